// Pins, parameters, signature/layout/status objects, kernel services,
// the canvas and plug-in loading.
#include <gtest/gtest.h>

#include "common/live_objects_test.h"

#include "host/event.h"
#include "host/kernel_services.h"
#include "host/live_objects.h"
#include "host/plugin_library.h"

namespace {

using namespace mrvhost;

class HostSignature : public LiveObjectsTest {
protected:
};

TEST_F(HostSignature, InputReadsTheLinkedOutputsVeryObject) {
    Ref<Pin> output = Pin::create_output("out", "kernel", "double");
    Ref<Pin> input = Pin::create_input("in", "kernel", "double");
    EXPECT_FALSE(input->HasData());
    input->connect(*output);
    EXPECT_EQ(input->GetDatatype(), output->GetDatatype());
    output->GetDatatype()->SetTimeStamp(5);
    EXPECT_TRUE(input->HasData());
    // Data only for a value that arrived since the block's last execution.
    Ref<Signature> signature = Signature::create();
    signature->inputs().add(input);
    signature->executed();
    EXPECT_FALSE(input->HasData());
    output->GetDatatype()->SetTimeStamp(6);
    EXPECT_TRUE(input->HasData());
    Ref<Pin> matrix = Pin::create_output("m", "kernel", "double-matrix");
    try {
        input->connect(*matrix);
        FAIL() << "linked different classes";
    } catch (const std::invalid_argument& error) {
        EXPECT_STREQ(error.what(), "cannot link m (kernel/double-matrix) to in (kernel/double)");
    }
}

TEST_F(HostSignature, DeclarationsAndDuplicates) {
    Ref<Signature> signature = Signature::create();
    signature->AddInput("a", "A", "first", "kernel", "double", true, false, 0);
    signature->AddParameter("p", "P", "bounded", "kernel", "int", "kernel", "int-domain", 0, 0);
    EXPECT_NE(signature->find_parameter("p")->GetDomain(), nullptr);
    EXPECT_TRUE(signature->find_parameter("p")->GetAttribute(Mrv::AttrVisible));
    EXPECT_FALSE(signature->find_parameter("p")->GetAttribute(Mrv::AttrRunStructural));
    try {
        signature->AddOutput("a", "A", "again", "kernel", "double", "", "", 0);
        FAIL() << "duplicate accepted";
    } catch (const Mrv::IException& error) {
        EXPECT_STREQ(error.GetDescription(), "Duplicate identifier \"a\" in block signature.\n");
    }
    EXPECT_EQ(signature->GetInputs()->Find("b"), nullptr);
    EXPECT_FALSE(signature->RemoveOutput("b"));
    EXPECT_TRUE(signature->RemoveInput("a"));
    EXPECT_EQ(signature->GetInputs()->GetCount(), 0);
}

TEST_F(HostSignature, MissingLibraryIsAClearError) {
    try {
        PluginLibrary library("/nonexistent/libMrvML.so");
        FAIL() << "loaded a missing file";
    } catch (const LoadError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("cannot load /nonexistent/libMrvML.so: ", 0), 0u);
    }
}

}  // namespace
