// The plug-in as the host sees it: loaded with dlopen, read through its
// exports and its signature; and the rules every registered block keeps,
// checked over the whole class table so that each new block is covered as
// soon as it is registered.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "common/live_objects_test.h"
#include "common/exceptions.h"

#include "host/datatypes.h"
#include "host/harness.h"
#include "host/live_objects.h"

namespace {

using mrvhost::Plugin;

// Each test loads the library afresh, so its first-call state is new.
class Entry : public LiveObjectsTest {
protected:
    Plugin plugin{Plugin::default_path()};
    mrvhost::PluginLibrary& library = plugin.library();
};

// Only built signatures are listed; the first one built answers for every
// other language.
TEST_F(Entry, ItalianFirstThenEnglishGetsTheItalianSignature) {
    EXPECT_EQ(library.GetDllLanguageIDCount(), 0u);
    EXPECT_EQ(library.GetDllLanguageID(0), 0u);
    Mrv::IDllSignature* italian = library.GetDllSignature(1040);
    ASSERT_NE(italian, nullptr);
    EXPECT_EQ(italian->GetLanguageId(), 1040);
    EXPECT_STREQ(italian->GetCatalogDescription(), "Questo catalogo include blocchi per l'apprendimento automatico");
    EXPECT_EQ(italian->GetCatalogBitmapId(), 101);
    EXPECT_EQ(library.GetDllSignature(1033), italian);
    EXPECT_EQ(library.GetDllLanguageIDCount(), 1u);
    EXPECT_EQ(library.GetDllLanguageID(0), 1040u);
    for (int beyond : {1, 7, -1}) EXPECT_EQ(library.GetDllLanguageID(beyond), 0u);
}

TEST_F(Entry, OtherLanguageFirstBuildsItsOwnSignatureWithFallbackTexts) {
    Mrv::IDllSignature* french = library.GetDllSignature(1036);
    ASSERT_NE(french, nullptr);
    EXPECT_EQ(french->GetLanguageId(), 1036);
    EXPECT_STREQ(french->GetCatalogDescription(), "This catalog includes blocks for machine learning");
    EXPECT_EQ(library.GetDllSignature(1040), french);
}

TEST_F(Entry, EnglishSignatureListsTheRecords) {
    Mrv::IDllSignature* signature = library.GetDllSignature(1033);
    ASSERT_NE(signature, nullptr);
    ASSERT_EQ(signature->GetCompanies()->GetCount(), 1);
    EXPECT_STREQ(signature->GetCompanies()->GetItem(0)->GetClassId(), "Sonara");
    EXPECT_STREQ(signature->GetCompanies()->GetItem(0)->GetName(), "Sonara Lab");
    ASSERT_EQ(signature->GetAuthors()->GetCount(), 1);
    EXPECT_STREQ(signature->GetAuthors()->GetItem(0)->GetClassId(), "halvard");
    ASSERT_EQ(signature->GetLicences()->GetCount(), 1);
    EXPECT_STREQ(signature->GetLicences()->GetItem(0)->GetClassId(), "FreeLicense");
    for (int empty : {signature->GetDatatypeClasses()->GetCount(), signature->GetDevices()->GetCount(),
                        signature->GetCategories()->GetCount(), signature->GetPatchStorages()->GetCount(),
                        signature->GetLibraryClasses()->GetCount()})
        EXPECT_EQ(empty, 0);
}

TEST_F(Entry, BlockClassRecordsAndTheirRange) {
    // Names, descriptions and catalog paths are pinned by the generated block reference.
    Mrv::ILibraryObjectClassInfo* english = plugin.find_class("VectorRescaler", 1033);
    EXPECT_EQ(english->GetBitmapId(), 165);
    ASSERT_EQ(english->GetAuthorCount(), 1);
    EXPECT_STREQ(english->GetAuthor(0), "halvard");
    EXPECT_STREQ(english->GetLicence(0), "FreeLicense");
    EXPECT_STREQ(english->GetCompany(0), "Sonara");
    EXPECT_EQ(description_of([&] { english->GetAuthor(1); }),
              "Error while accessing a collection.\nValid range index is [0-0]\nRequired index is 1.\n");
}


// Runs the small host that loads the library and leaves without unloading.
int exit_status_of_host(const char* how) {
    const std::string command =
        std::string(LOAD_AND_EXIT) + " " + mrvhost::Plugin::default_path() + " " + how + " 2>/dev/null";
    return std::system(command.c_str());
}

TEST(ProcessExit, HostThatExitsWithTheLibraryLoadedExitsCleanly) {
    EXPECT_EQ(exit_status_of_host("return"), 0);
    EXPECT_EQ(exit_status_of_host("exit"), 0);
}


using mrvhost::BlockHarness;
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

TEST_F(EveryBlock, RunsWithBothExecutionSettingsAtOneAndTakesEditsInEveryState) {
    for (const auto& class_id : registered_classes(plugin)) {
        SCOPED_TRACE("block class " + class_id);
        {
            BlockHarness harness(plugin.find_class(class_id), "edited");
            EXPECT_EQ(harness.status().execution_setting(0), 1);
            EXPECT_EQ(harness.status().execution_setting(1), 1);
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

}  // namespace
