// Small blocks built on the framework, for exercising the block base.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "framework/block_base.h"
#include "host/harness.h"

namespace framework_test {

using namespace Mrv;

// Records every overridable the base calls; behaviour is switched by flags.
class RecordingBlock : public CBlockImplBase<IBlock> {
public:
    explicit RecordingBlock(const CreationContext* context) : CBlockImplBase(context, exception_policy::unhandled()) {
        AddDrivingInput("In", 1);
    }

    std::vector<std::string> calls;
    bool init_result = true;
    bool veto = false;
    std::string execute_warning;      // sent on every Execute when set
    std::string execute_throw;        // "mrv" or "std": throw from Execute
    bool declare_x_as_double = false;  // the "int" parameter X became "double"

    using CBlockImplBase::NotifyWarning;
    using CBlockImplBase::SetColour;
    using CBlockImplBase::SetParameterVisible;

protected:
    void InitSignature() override {
        calls.push_back("InitSignature");
        static const declaration table[] = {
            input("In", "In", "the input", "double"),
            output("Out", "Out", "the output", "double"),
            parameter("Y", "Y", "a double", "double").initial_value(2.5),
            parameter("DesignOnly", "Design only", "fixed while running", "int")
                .initial_value(3)
                .attribute(AttrRunChange, false),
            parameter("M", "M", "a matrix", "double-matrix"),
        };
        Declare(table);
        if (declare_x_as_double)
            Declare(parameter("X", "X", "now a double", "double").initial_value(1.5));
        else
            Declare(parameter("X", "X", "an int", "int").initial_value(7));
    }
    void CheckSignature() override {
        calls.push_back("CheckSignature");
        // Binds X as the type this version of the block declares.
        if (declare_x_as_double) ParameterValue<IDouble>("X");
        else ParameterValue<IInt>("X");
    }
    void DoneSignature() override { calls.push_back("DoneSignature"); }
    bool OnChangingParameter(const std::string& id, IDatatype*) override {
        calls.push_back("OnChangingParameter " + id);
        return !veto;
    }
    void OnChangedParameter(const std::string& id) override { calls.push_back("OnChangedParameter " + id); }
    bool Init() override {
        calls.push_back("Init");
        return init_result;
    }
    bool Check() override {
        calls.push_back("Check");
        return true;
    }
    bool Start() override {
        calls.push_back("Start");
        return true;
    }
    bool Execute() override {
        calls.push_back("Execute");
        if (!execute_warning.empty()) NotifyWarning("%s", execute_warning.c_str());
        if (execute_throw == "mrv") throw CLogicExceptionImpl("boom\n");
        if (execute_throw == "std") throw std::runtime_error("bang");
        return true;
    }
    void Stop() override { calls.push_back("Stop"); }
    void Done() override { calls.push_back("Done"); }
};

// A block whose parameter changes go through validators and handlers.
class ValidatedBlock : public CBlockImplBase<IBlock> {
public:
    explicit ValidatedBlock(const CreationContext* context) : CBlockImplBase(context, exception_policy::unhandled()) {}
    std::vector<double> old_values;
    int validations = 0;

protected:
    void InitSignature() override {
        Declare(parameter("Gain", "Gain", "positive only", "double")
                    .initial_value(1.0)
                    .validator([this](IDatatype* proposed) {
                        ++validations;
                        return CSmartPtr<IDouble>(proposed)->GetValue() > 0.0;
                    })
                    .handler([this](IDatatype* old) { old_values.push_back(CSmartPtr<IDouble>(old)->GetValue()); }));
    }
    bool OnChangingParameter(const std::string&, IDatatype*) override {
        throw std::logic_error("validators replace OnChangingParameter");
    }
};

template <class Block>
Block* created_as(mrvhost::BlockHarness& harness) {
    return static_cast<Block*>(harness.block());
}

template <class Block>
mrvhost::BlockHarness::Factory factory_of() {
    return [](const CreationContext* context) -> IBlock* { return new Block(context); };
}

}  // namespace framework_test

namespace framework_test {

// Declares one of everything the descriptor form offers, and changes its
// signature at run time.
class DeclaringBlock : public CBlockImplBase<IBlock> {
public:
    explicit DeclaringBlock(const CreationContext* context) : CBlockImplBase(context, exception_policy::unhandled()) {
        AddDrivingInput("Extra", 1);
    }
    void AddExtraInput() {
        AddInput("Extra", 157, 161, "kernel", "double-matrix", true);
        NotifySignatureChanged();
    }
    void RemoveExtraInput() {
        RemoveInput("Extra");
        NotifySignatureChanged();
    }
    void ChangeOwnGain() {
        ParameterValue<IDouble>("Gain")->SetValue(9.0);
        NotifyParameterChanged("Gain");
    }

protected:
    void InitSignature() override {
        static const declaration table[] = {
            output("Histogram", 164, 165, "double-matrix").output_value(1),
            parameter("Mode", "Mode", "bounded", "int").initial_value(1).domain(int_domain().minimum(0, true).maximum(2, true)),
            parameter("Folder", "Folder", "a folder", "string").layout(foldername_layout{true}),
            parameter("Kind", "Kind", "a datatype", "string")
                .layout(datatype_selector_layout{{{"kernel", "double"}, {"kernel", "int"}}})
                .attribute(AttrLayoutFirst, true),
            parameter("Gain", "Gain", "open above", "double")
                .initial_value(0.5)
                .domain(double_domain().minimum(0.0, false))
                .attribute(AttrVisible, false)
                .attribute(AttrRunStructural, true),
            parameter("Missing", 250, 251, "bool").initial_value(true),
        };
        Declare(table);
    }
};

}  // namespace framework_test

namespace framework_test {

// Shapes an output of every shaped class at Init; what it raises is
// handled by the policy it is given.
class ShapingBlock : public CBlockImplBase<IBlock> {
public:
    explicit ShapingBlock(const CreationContext* context, exception_policy policy = exception_policy::unhandled())
        : CBlockImplBase(context, policy) {}
    bool throw_in_execute = false;
    std::string changed_throws;  // "mrv" or "std": OnChangedParameter raises

protected:
    void InitSignature() override {
        static const declaration table[] = {
            input("Needed", "Needed", "required by preset", "double"),
            input("Optional", "Optional", "asked to be optional", "double").required(false),
            output("Ints", "Ints", "an int matrix", "int-matrix"),
            output("Set", "Set", "a labelled set", "labeled_set"),
            output("Samples", "Samples", "temporal data", "temporal_data").catalog("base"),
            parameter("Gain", "Gain", "a double", "double").initial_value(1.0),
        };
        Declare(table);
    }
    void OnChangedParameter(const std::string&) override {
        if (changed_throws == "mrv") throw CLogicExceptionImpl("refused by the block\n");
        if (changed_throws == "std") throw std::runtime_error("not the host's contract");
    }
    bool Init() override {
        ShapeIntMatrix(FindOutput("Ints")->GetDatatype(), 2, 3);
        ShapeLabelledSet(FindOutput("Set")->GetDatatype(), 4, 1);
        ShapeTemporalData(FindOutput("Samples")->GetDatatype(), 8, 2, 100.0, -1.0, 1.0);
        return true;
    }
    bool Execute() override {
        if (throw_in_execute) throw CCastExceptionImpl();
        return true;
    }
};

class TracingBlock : public ShapingBlock {
public:
    explicit TracingBlock(const CreationContext* context) : ShapingBlock(context, exception_policy::trace()) {}
};

}  // namespace framework_test
