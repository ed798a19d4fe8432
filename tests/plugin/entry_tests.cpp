// The plug-in as the host sees it: loaded with dlopen, read through its
// exports and its signature.
#include <gtest/gtest.h>

#include "common/live_objects_test.h"

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

TEST_F(Entry, LanguageQueriesReportOnlyBuiltSignatures) {
    EXPECT_EQ(library.GetDllLanguageIDCount(), 0u);
    EXPECT_EQ(library.GetDllLanguageID(0), 0u);
    ASSERT_NE(library.GetDllSignature(1033), nullptr);
    EXPECT_EQ(library.GetDllLanguageIDCount(), 1u);
    EXPECT_EQ(library.GetDllLanguageID(0), 1033u);
    EXPECT_EQ(library.GetDllLanguageID(1), 0u);
    EXPECT_EQ(library.GetDllLanguageID(7), 0u);
    EXPECT_EQ(library.GetDllLanguageID(-1), 0u);
}

TEST_F(Entry, ItalianFirstThenEnglishGetsTheItalianSignature) {
    Mrv::IDllSignature* italian = library.GetDllSignature(1040);
    ASSERT_NE(italian, nullptr);
    EXPECT_EQ(italian->GetLanguageId(), 1040);
    EXPECT_STREQ(italian->GetCatalogClassId(), "MrvML");
    EXPECT_STREQ(italian->GetCatalogName(), "Machine Learning");
    EXPECT_STREQ(italian->GetCatalogDescription(), "Questo catalogo include blocchi per l'apprendimento automatico");
    EXPECT_EQ(italian->GetCatalogBitmapId(), 101);
    // No English signature was built: the first one answers.
    EXPECT_EQ(library.GetDllSignature(1033), italian);
    EXPECT_EQ(library.GetDllLanguageIDCount(), 1u);
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
    EXPECT_STREQ(signature->GetCatalogDescription(), "This catalog includes blocks for machine learning");
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

std::string description_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const Mrv::IException& error) {
        return error.GetDescription();
    }
    return "no exception";
}

TEST_F(Entry, BlockClassTextsInBothLanguages) {
    Mrv::ILibraryObjectClassInfo* english = plugin.find_class("VectorRescaler", 1033);
    EXPECT_STREQ(english->GetName(), "Vector Rescaler");
    EXPECT_STREQ(english->GetDescription(), "This block rescales the input vector according to the given ranges.");
    EXPECT_STREQ(english->GetCatalogPath(), "Math.Matrix.Operations");
    EXPECT_EQ(english->GetBitmapId(), 165);
    ASSERT_EQ(english->GetAuthorCount(), 1);
    EXPECT_STREQ(english->GetAuthor(0), "halvard");
    EXPECT_STREQ(english->GetLicence(0), "FreeLicense");
    EXPECT_STREQ(english->GetCompany(0), "Sonara");
    EXPECT_EQ(description_of([&] { english->GetAuthor(1); }),
              "Error while accessing a collection.\nValid range index is [0-0]\nRequired index is 1.\n");
}

}  // namespace

namespace {

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

}  // namespace
