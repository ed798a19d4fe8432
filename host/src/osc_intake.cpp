#include <lo/lo.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "host/osc.h"

namespace mrvhost {
namespace {

int on_message(const char* path, const char* types, lo_arg** argv, int argc, lo_message, void* intake) {
    static_cast<OscIntake*>(intake)->accept(path, types, reinterpret_cast<void* const*>(argv), argc);
    return 0;
}

// An argument as liblo unpacked it: OSC aligns arguments on 4 bytes only,
// so an 8-byte one is copied out rather than read through lo_arg.
template <class T>
T argument(const void* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// liblo's reasons for refusing a datagram.
std::string reason(int code) {
    switch (-code) {
    case LO_ESIZE: return "its sizes do not add up";
    case LO_EINVALIDPATH: return "its address is not valid";
    case LO_EINVALIDTYPE: return "its type tags are not valid";
    case LO_EBADTYPE: return "it has an unknown type tag";
    case LO_EINVALIDARG: return "an argument is not valid";
    case LO_ETERM: return "a string is not terminated";
    case LO_EPAD: return "its padding is not zero";
    case LO_EINVALIDBUND: return "its bundle is not valid";
    case LO_EINVALIDTIME: return "its time tag is not valid";
    default: return "liblo error " + std::to_string(-code);
    }
}

// A short, printable quote of text from the network.
std::string quoted(const char* text) {
    std::string shown;
    for (const char* c = text; *c && shown.size() < 60; ++c) shown += (*c >= 32 && *c < 127) ? *c : '?';
    if (std::char_traits<char>::length(text) > 60) shown += "...";
    return "\"" + shown + "\"";
}

}  // namespace

OscIntake::OscIntake(std::string address, std::string datatype, int width)
    : address_(std::move(address)), datatype_(std::move(datatype)), width_(width) {
    // liblo unpacks bundles only through a server. This one receives
    // nothing: its socket is a local one whose name is gone at once (the
    // source listens on a socket of its own, bound where Bind says).
    char folder[] = "/tmp/mrv-osc-XXXXXX";
    if (!::mkdtemp(folder)) throw std::runtime_error("cannot make a folder for the OSC dispatcher");
    const std::string name = std::string(folder) + "/d";
    dispatcher_ = lo_server_new_with_proto(name.c_str(), LO_UNIX, nullptr);
    ::unlink(name.c_str());
    ::rmdir(folder);
    if (!dispatcher_) throw std::runtime_error("liblo could not make an OSC dispatcher");
    // Bundles for later are taken at once: a live patch answers now.
    lo_server_enable_queue(static_cast<lo_server>(dispatcher_), 0, 1);
    lo_server_add_method(static_cast<lo_server>(dispatcher_), nullptr, nullptr, on_message, this);
}

OscIntake::~OscIntake() { lo_server_free(static_cast<lo_server>(dispatcher_)); }

void OscIntake::take(char* data, std::size_t size, std::vector<std::vector<double>>& values) {
    values_ = &values;
    const int result = lo_server_dispatch_data(static_cast<lo_server>(dispatcher_), data, size);
    values_ = nullptr;
    if (result < 0) reject(malformed, reason(result));
}

void OscIntake::reject(Kind kind, const std::string& what) {
    if (counts_[kind]++ == 0) firsts_[kind] = what;
}

void OscIntake::accept(const char* path, const char* types, void* const* arguments, int count) {
    if (address_ != path) return reject(other_address, quoted(path));
    std::vector<double> numbers;
    numbers.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        switch (types[i]) {
        case LO_INT32: numbers.push_back(argument<std::int32_t>(arguments[i])); break;
        case LO_INT64: numbers.push_back(static_cast<double>(argument<std::int64_t>(arguments[i]))); break;
        case LO_FLOAT: numbers.push_back(argument<float>(arguments[i])); break;
        case LO_DOUBLE: numbers.push_back(argument<double>(arguments[i])); break;
        default: return reject(not_numeric, quoted(types));
        }
    }
    if (datatype_ == "double-matrix") {
        if (count != width_) return reject(wrong_count, std::to_string(count));
        values_->push_back(std::move(numbers));
        return;
    }
    if (count == 0) return reject(wrong_count, "0");
    const double first = numbers[0];
    if (datatype_ == "int" && !(std::trunc(first) == first && first >= std::numeric_limits<std::int32_t>::min() &&
                                first <= std::numeric_limits<std::int32_t>::max())) {
        char text[32];
        return reject(not_of_class, std::string(text, std::to_chars(text, text + sizeof text, first).ptr));
    }
    if (datatype_ == "bool" && std::isnan(first)) return reject(not_of_class, "nan");
    values_->push_back({first});
}

}  // namespace mrvhost
