// What the host's own blocks share: parameter helpers, number conversion,
// the base of the blocks driven by one input, and the class list each
// file of blocks contributes to the registry.
#pragma once

#include <string>
#include <vector>

#include "host/host_block.h"

namespace mrvhost {

void set_string(Signature& signature, const char* id, const std::string& value);
void set_int(Signature& signature, const char* id, int value);
void add_parameter(Signature& s, const char* id, const char* name, const char* description, const char* class_id);

extern const char* const csv_filter;

bool is_scalar(const std::string& class_id);

// A number as a scalar of the target's class: an int must be whole and in
// range; a bool is any number but NaN, non-zero being true.
void assign_number(Mrv::IDatatype& target, double value);

// Every class a CSV sink writes, the double matrix first.
std::vector<std::string> all_datatypes_but_trigger();

template <class Block>
HostBlock* make(KernelServices& kernel, const std::string& datatype, const std::string& base) {
    return new Block(kernel, datatype, base);
}

// Blocks driven by one input; they act once it carries a value.
class Consumer : public HostBlock {
public:
    Consumer(KernelServices& kernel, std::string datatype, std::string base)
        : HostBlock(kernel, std::move(datatype), std::move(base)) {
        status_->AddDrivingInput("Input", 1);
    }

protected:
    bool init() override {
        consumed_ = 0;
        return true;
    }
    void execute() final {
        Mrv::IDatatype* value = input("Input");
        const Mrv::TimeStamp stamp = value->GetTimeStamp();
        // A parameter change asks for an execution too; a consumer of values
        // does not take the same value twice.
        if (stamp == 0 || (stamp == consumed_ && only_new_values())) return;
        consumed_ = stamp;
        consume(*value);
    }
    virtual bool only_new_values() const { return true; }
    virtual void consume(Mrv::IDatatype& value) = 0;

private:
    Mrv::TimeStamp consumed_ = 0;
};

// The classes of each file of host blocks, in the order tools list them.
std::vector<HostBlockClass> source_block_classes();   // host.csv_source, host.constant
std::vector<HostBlockClass> pick_block_classes();     // host.pick
std::vector<HostBlockClass> text_sink_classes();      // host.csv_sink, host.print
std::vector<HostBlockClass> picture_sink_classes();   // host.image_sink, host.plot_sink

}  // namespace mrvhost
