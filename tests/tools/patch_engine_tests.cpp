// The patch engine's scheduling rules, driven directly.
#include <gtest/gtest.h>

#include "common/live_objects_test.h"

#include "host/live_objects.h"
#include "host/patch.h"

namespace {

using mrvhost::Patch;
using nlohmann::json;

class PatchEngine : public LiveObjectsTest {
protected:
    void ReleaseHostObjects() override { patch.reset(); }
    // constant vector -> rescale <- constant ranges, in a scrambled file order.
    void build(bool vector_first) {
        patch = std::make_unique<Patch>();
        patch->add_plugin(MRV_PLUGIN);
        if (!vector_first) patch->add_block("rescale", "VectorRescaler");
        patch->add_block("vector", "host.constant", "double-matrix");
        patch->add_block("ranges", "host.constant", "double-matrix");
        if (vector_first) patch->add_block("rescale", "VectorRescaler");
        patch->set_parameter("vector", "Value", json::parse("[[0, 5, 10]]"));
        patch->set_parameter("ranges", "Value", json::parse("[[0, 10], [0, 10], [0, 10]]"));
        patch->link("vector", "Output", "rescale", "InputVector");
        patch->link("ranges", "Output", "rescale", "InputRanges");
    }
    std::vector<double> output() {
        auto* matrix = Mrv::interface_cast<Mrv::IDoubleMatrix>(
            patch->node("rescale").signature().find_output("OutputVector")->GetDatatype());
        return std::vector<double>(matrix->GetReadPointer(), matrix->GetReadPointer() + matrix->GetWidth());
    }

    std::unique_ptr<Patch> patch;
};

TEST_F(PatchEngine, UpstreamBlocksRunFirstWhateverTheFileOrder) {
    build(false);
    ASSERT_TRUE(patch->start());
    patch->tick();
    EXPECT_EQ(output(), (std::vector<double>{-1, 0, 1}));
}

TEST_F(PatchEngine, BlockRunsOnlyForANewerTimeStamp) {
    build(true);
    ASSERT_TRUE(patch->start());
    patch->run(5);
    EXPECT_EQ(patch->node("rescale").executions, 1);
    EXPECT_EQ(patch->node("vector").executions, 1);
    // A changed constant asks for an execution, and its new value drives the block.
    patch->set_parameter("vector", "Value", json::parse("[[10, 10, 0]]"));
    patch->run(3);
    EXPECT_EQ(patch->node("vector").executions, 2);
    EXPECT_EQ(patch->node("rescale").executions, 2);
    EXPECT_EQ(output(), (std::vector<double>{1, 1, -1}));
    // The ranges do not drive execution: a new ranges value alone runs nothing.
    patch->set_parameter("ranges", "Value", json::parse("[[0, 20], [0, 20], [0, 20]]"));
    patch->run(2);
    EXPECT_EQ(patch->node("rescale").executions, 2);
}

TEST_F(PatchEngine, RunParametersWhileRunningFollowTheirPermissions) {
    build(true);
    ASSERT_TRUE(patch->start());
    patch->tick();
    patch->set_parameter("rescale", "OutputHighBound", 2.0);
    EXPECT_THROW(patch->set_parameter("rescale", "OutputHighBound", -5.0), mrvhost::PatchError);
    patch->stop();
    patch->close();
}

TEST_F(PatchEngine, InitFailureStopsTheStart) {
    build(true);
    patch->set_parameter("ranges", "Value", json::parse("[[0, 10]]"));
    EXPECT_FALSE(patch->start());
    bool reported = false;
    for (const auto& n : patch->kernel().sink().events())
        reported |= n.text == "CVectorRescaler::Init -- Ranges should be provided as a (3x2) matrix.\n";
    EXPECT_TRUE(reported);
    patch->stop();
}

TEST_F(PatchEngine, LinksBetweenDifferentClassesAreRefused) {
    patch = std::make_unique<Patch>();
    patch->add_plugin(MRV_PLUGIN);
    patch->add_block("number", "host.constant", "double");
    patch->add_block("rescale", "VectorRescaler");
    try {
        patch->link("number", "Output", "rescale", "InputVector");
        FAIL() << "linked a double to a matrix input";
    } catch (const mrvhost::PatchError& error) {
        EXPECT_STREQ(error.what(),
                     "cannot link number.Output (kernel/double) to rescale.InputVector (kernel/double-matrix): the "
                     "datatypes differ");
    }
}

}  // namespace
