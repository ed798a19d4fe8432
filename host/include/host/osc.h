// Open Sound Control over UDP, for live patches: what an OSC source makes of
// the datagrams it receives, and the host blocks that listen and send.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "host/host_block.h"

namespace mrvhost {

// Turns datagrams into the values of a source: the messages for one address
// whose arguments make a value of the source's class. liblo unpacks the
// messages and bundles; everything else is counted by kind. Not thread-safe.
class OscIntake {
public:
    enum Kind { other_address, not_numeric, wrong_count, not_of_class, malformed, kinds };

    // `datatype`: "double-matrix" (a row of exactly `width` numbers) or
    // "double", "int", "bool" (the first argument). Throws
    // std::runtime_error when liblo cannot be set up.
    OscIntake(std::string address, std::string datatype, int width);
    ~OscIntake();
    OscIntake(const OscIntake&) = delete;
    OscIntake& operator=(const OscIntake&) = delete;

    // Appends the value of each accepted message of the datagram, in order
    // (a bundle may hold several). liblo may rewrite `data` in place.
    void take(char* data, std::size_t size, std::vector<std::vector<double>>& values);
    long count(Kind kind) const { return counts_[kind]; }
    // What the first message of a kind was, for the report ("" before one).
    const std::string& first(Kind kind) const { return firsts_[kind]; }

    // One message as liblo unpacked it (its `lo_arg**`), during take().
    void accept(const char* path, const char* types, void* const* arguments, int count);

private:
    void reject(Kind kind, const std::string& what);

    std::string address_, datatype_;
    int width_;
    void* dispatcher_;  // lo_server
    std::vector<std::vector<double>>* values_ = nullptr;
    std::array<long, kinds> counts_{};
    std::array<std::string, kinds> firsts_;
};

// The classes host.osc_source and host.osc_sink.
std::vector<HostBlockClass> osc_block_classes();

}  // namespace mrvhost
