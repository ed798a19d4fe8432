// Rules every registered block keeps, checked over the whole class table so
// that each new block is covered as soon as it is registered.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "common/live_objects_test.h"

#include "host/datatypes.h"
#include "host/harness.h"

namespace {

using mrvhost::BlockHarness;
using mrvhost::Plugin;
using mrvhost::Ref;

std::vector<std::string> registered_classes(Plugin& plugin) {
    std::vector<std::string> ids;
    auto* blocks = plugin.signature()->GetBlockClasses();
    for (Mrv::int32 i = 0; i < blocks->GetCount(); ++i) ids.push_back(blocks->GetItem(i)->GetClassId());
    return ids;
}

// Edited texts name a file in a scratch folder: blocks with file-name
// parameters may create it, and nothing may land in the working directory.
std::string edited_text() {
    static const std::string path =
        (std::filesystem::temp_directory_path() / ("mrv-every-block-" + std::to_string(::getpid()))).string();
    return path;
}

// A value of the parameter's own class that differs from the current one
// where the class has an obvious next value.
Ref<Mrv::IDatatype> edited_value(mrvhost::Parameter& parameter) {
    Ref<Mrv::IDatatype> value = Ref<Mrv::IDatatype>::adopt(
        mrvhost::create_datatype(parameter.GetDatatypeCatalogId(), parameter.GetDatatypeClassId()));
    value->CopyFrom(parameter.GetValue());
    if (auto* real = Mrv::interface_cast<Mrv::IDouble>(value.get())) real->SetValue(real->GetValue() + 1.0);
    else if (auto* whole = Mrv::interface_cast<Mrv::IInt>(value.get())) whole->SetValue(whole->GetValue() + 1);
    else if (auto* flag = Mrv::interface_cast<Mrv::IBool>(value.get())) flag->SetValue(!flag->GetValue());
    else if (auto* text = Mrv::interface_cast<Mrv::IString>(value.get())) text->SetValue(edited_text().c_str());
    value->SetTimeStamp(1);  // a trigger fires
    return value;
}

// Proposes an edit of every parameter; the block may accept or refuse each.
void edit_every_parameter(BlockHarness& harness) {
    std::vector<std::string> ids;
    for (const auto& parameter : harness.signature().parameters().items()) ids.push_back(parameter->GetId());
    for (const auto& id : ids) {
        SCOPED_TRACE("parameter " + id);
        // Each edit looks the parameter up again: an edit may change the signature.
        if (!harness.signature().find_parameter(id)) continue;
        Ref<Mrv::IDatatype> value = edited_value(harness.parameter(id));
        EXPECT_NO_THROW(harness.propose(id, value.get()));
    }
}

// Gives every input a small value of its class, so that Init can succeed.
void feed_every_input(BlockHarness& harness) {
    std::vector<std::pair<std::string, std::string>> inputs;
    for (const auto& pin : harness.signature().inputs().items())
        inputs.emplace_back(pin->GetId(), pin->GetDatatypeClassId());
    for (const auto& [id, class_id] : inputs) {
        if (class_id == "double-matrix") harness.feed_matrix(id, 1, 4, {1, 2, 3, 4});
        else if (class_id == "double") harness.feed_double(id, 1.0);
        else if (class_id == "int") harness.feed_int(id, 1);
        else if (class_id == "bool") harness.feed_bool(id, true);
    }
}

class EveryBlock : public LiveObjectsTest {
protected:
    void TearDown() override {
        std::filesystem::remove(edited_text());
        LiveObjectsTest::TearDown();
    }
    Plugin plugin{Plugin::default_path()};
};

TEST_F(EveryBlock, EditsParametersInEveryLifecycleState) {
    for (const auto& class_id : registered_classes(plugin)) {
        SCOPED_TRACE("block class " + class_id);
        {
            BlockHarness harness(plugin.find_class(class_id), "edited");
            harness.init_instance();
            edit_every_parameter(harness);  // design mode, before Init
            harness.init();                 // inputs unfed: Init usually fails
            edit_every_parameter(harness);
            harness.done();
            edit_every_parameter(harness);  // after a failed Init and Done
            feed_every_input(harness);
            harness.begin();
            harness.tick();
            harness.stop();
            harness.done();
            edit_every_parameter(harness);  // after a run and Done
            harness.begin();               // and the block starts again
            harness.tick();
            harness.stop();
            harness.done();
            harness.done_instance();
            edit_every_parameter(harness);  // after the signature tear-down
        }
    }
}

TEST_F(EveryBlock, RunsWithBothExecutionSettingsAtOne) {
    for (const auto& class_id : registered_classes(plugin)) {
        SCOPED_TRACE("block class " + class_id);
        BlockHarness harness(plugin.find_class(class_id), "scheduled");
        EXPECT_EQ(harness.status().execution_setting(0), 1);
        EXPECT_EQ(harness.status().execution_setting(1), 1);
    }
}

}  // namespace
