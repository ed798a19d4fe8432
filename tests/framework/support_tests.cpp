// Framework pieces that need no block: messages, exceptions, smart
// pointers, property values, registration, the catalog factory, the
// portability layers.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cmath>
#include <cstring>

#include "entry/catalog_factory.h"
#include "common/files.h"
#include "common/exceptions.h"
#include "framework/platform/files.h"
#include "framework/platform/module.h"
#include "framework/platform/resources.h"
#include "framework/property.h"
#include "framework/smart_ptr.h"
#include "host/datatypes.h"
#include "host/live_objects.h"
#include "registration/registrant.h"
#include "resources/string_table.h"

namespace framework_test {
namespace {

using namespace Mrv;

TEST(SmartPointer, ConvertsOnAssignmentAndCounts) {
    const auto live = mrvhost::live_object_count();
    {
        auto created = CSmartPtr<IDatatype>::adopt(mrvhost::create_datatype("kernel", "double"));
        CSmartPtr<IDouble> as_double(created.get());
        as_double->SetValue(2.0);
        EXPECT_EQ(description_of([&] { CSmartPtr<IDoubleMatrix> wrong(created.get()); }), "Invalid type cast.\n");
        EXPECT_EQ(created->AddRef(), 3u);  // adopted, converted copy, this one
        created->Release();
    }
    EXPECT_EQ(mrvhost::live_object_count(), live);
}

TEST(PropertyValues, TextConversionFollowsTheStoredType) {
    CPropertyImpl real(1, "real", 0.5);
    EXPECT_STREQ(real.GetText(), "0.5");
    real.SetText("nan");
    EXPECT_TRUE(std::isnan(real.get<double>()));
    real.SetText("-INFINITY");
    EXPECT_EQ(real.get<double>(), -HUGE_VAL);
    real.SetText("1e3");
    EXPECT_EQ(real.get<double>(), 1000.0);
    EXPECT_NE(description_of([&] { real.SetText("fast"); }), "no exception");
    EXPECT_EQ(real.get<double>(), 1000.0);

    CPropertyImpl whole(2, "whole", 7);
    whole.SetText("12");
    EXPECT_EQ(whole.get<int>(), 12);
    EXPECT_NE(description_of([&] { whole.SetText("1.5"); }), "no exception");
    // Reads must name the stored type exactly.
    EXPECT_NE(description_of([&] { whole.get<long>(); }), "no exception");
    EXPECT_NE(description_of([&] { whole.get<double>(); }), "no exception");

    CPropertyImpl words(3, "words", std::string("a b"));
    EXPECT_STREQ(words.GetText(), "a b");
}

TEST(Registration, LanguageLookupFallsBackToTheFirstRecord) {
    block_class_registrant registrant("Example");
    registrant.language(1033).name("English name").language(1040).name("Nome italiano");
    EXPECT_EQ(registrant.texts(1040).name, "Nome italiano");
    EXPECT_EQ(registrant.texts(1036).name, "English name");
    block_class_registrant bare("Bare");
    EXPECT_EQ(description_of([&] { bare.texts(1033); }), "std: Language 1033 not found");
}

IUnknown* make_nothing(void*, const std::string&) { return nullptr; }

TEST(CatalogFactory, MessagesForMisuse) {
    CCatalogFactoryImpl empty;
    EXPECT_EQ(empty.GetCount(), 0);
    EXPECT_EQ(description_of([&] { empty.GetClassId(0); }), "Invalid catalog index spcified.\n");
    EXPECT_EQ(description_of([&] { empty.GetIndex("VectorRescaler"); }), "Invalid catalog Id spcified.\n");
    EXPECT_EQ(catalog_factory().GetCount(), 0);

    CCatalogFactoryImpl factory({{"VectorRescaler", &make_nothing}, {"NoFactory", nullptr}});
    EXPECT_EQ(factory.GetIndex("VectorRescaler"), 0);
    EXPECT_EQ(description_of([&] { factory.GetIndex("Vector"); }), "Invalid catalog Id spcified.\n");
    EXPECT_EQ(description_of([&] { factory.GetIndex("VectorRescalerX"); }), "Invalid catalog Id spcified.\n");
    EXPECT_EQ(description_of([&] { factory.GetClassId(-1); }), "Invalid catalog index spcified.\n");
    EXPECT_EQ(description_of([&] { factory.Create(2, nullptr); }), "Invalid catalog index spcified.\n");
    EXPECT_EQ(description_of([&] { factory.Create(1, nullptr); }), "Catalog factory: null pointer (CreateFnPtr).\n");
    EXPECT_EQ(factory.Create(0, nullptr), nullptr);
}

TEST(Platform, SecondAttachFailsUntilDetach) {
    int module_a = 0, module_b = 0;
    int detached = 0;
    ASSERT_TRUE(platform::process_attach(&module_a));
    platform::on_process_detach([&] { ++detached; });
    EXPECT_FALSE(platform::process_attach(&module_b));
    EXPECT_EQ(platform::current_module(), &module_a);
    platform::process_detach();
    EXPECT_EQ(detached, 1);
    EXPECT_EQ(platform::current_module(), nullptr);
    EXPECT_TRUE(platform::process_attach(&module_b));
    platform::process_detach();
}

// This binary's string table: the entries that this test and the test
// blocks read (the library's own entries stand beside its blocks).
const resources::string_entry input_matrix{104, "Input Matrix"}, input_vector{157, "Input Vector"},
    input_vector_description{161, "Input vector"}, output_vector{164, "Output Vector"},
    output_vector_description{165, "Rescaled vector"},
    probabilities_description{259, "A vector containing the computed probabilities for each class."};

// Blocks read and write regular files only: anything else is refused with
// its kind, before it is opened for good (no wait on a FIFO, no truncation).
// Appending and emptying a regular file are LibSVMSave's modes, tested there.
TEST(Platform, FilesAreReadAndWrittenOnlyWhenRegular) {
    const auto folder = fresh_test_folder("mrv-files");
    const std::string fifo = (folder / "fifo").string(), socket_name = (folder / "socket").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket_name.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const struct {
        std::string path, reason;
    } refused[] = {{folder.string(), "it is a folder"},
                   {fifo, "it is a FIFO"},
                   {"/dev/full", "it is a device"},
                   {"/dev/zero", "it is a device"},
                   {socket_name, "it is a socket"}};
    for (const auto& c : refused) {
        EXPECT_EQ(platform::why_not_writable(c.path), c.reason);
        for (bool append : {false, true}) {
            std::string reason;
            EXPECT_EQ(platform::open_for_writing(c.path, append, &reason), nullptr);
            EXPECT_EQ(reason, c.reason);
        }
        const platform::readable_file file(c.path, 1000);
        EXPECT_FALSE(file.is_open());
        EXPECT_EQ(file.reason(), c.reason);
    }
    const std::string regular = (folder / "file.txt").string();
    EXPECT_EQ(platform::why_not_writable(regular), "");
    EXPECT_TRUE(platform::readable_file(regular, 10).missing());
    std::ofstream(regular) << "0123456789";
    EXPECT_EQ(platform::readable_file(regular, 9).reason(), "it is larger than 9 bytes");
    const platform::readable_file file(regular, 10);
    ASSERT_TRUE(file.is_open());
    std::remove(regular.c_str());  // the open file is still read, not the name
    EXPECT_EQ(read_file(file.reopen_name()), "0123456789");
    ::close(listening);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace framework_test
