// The patch engine's scheduling rules, driven directly.
#include <gtest/gtest.h>

#include "common/live_objects_test.h"

#include "host/live_objects.h"
#include <filesystem>
#include <fstream>

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

// The host's file blocks, writing and reading in a scratch folder.
class HostBlocks : public LiveObjectsTest {
protected:
    void ReleaseHostObjects() override { patch.reset(); }
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() / ("mrv-host-blocks-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        std::ofstream(folder / "table.csv") << "a;b;c\n1;2;3\n4;5;6\n7;8;9\n";
    }
    void TearDown() override {
        LiveObjectsTest::TearDown();
        std::filesystem::remove_all(folder);
    }
    // source -> sink, both run until the file is exhausted; the sink's lines.
    std::vector<std::string> copy_table(const json& source_parameters) {
        patch = std::make_unique<Patch>();
        patch->add_block("source", "host.csv_source", "", nullptr, folder.string());
        patch->add_block("sink", "host.csv_sink", "double-matrix", nullptr, folder.string());
        patch->set_parameter("source", "File", "table.csv");
        patch->set_parameter("source", "HeaderRows", 1);
        for (const auto& [id, value] : source_parameters.items()) patch->set_parameter("source", id, value);
        patch->set_parameter("sink", "File", "copy.csv");
        patch->link("source", "Output", "sink", "Input");
        if (!patch->start()) return {"start failed"};
        patch->run(0);
        patch->stop();
        std::vector<std::string> lines;
        std::ifstream in(folder / "copy.csv");
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    std::filesystem::path folder;
    std::unique_ptr<Patch> patch;
};

TEST_F(HostBlocks, RowModeSendsOneRowPerTick) {
    EXPECT_EQ(copy_table(json::object()), (std::vector<std::string>{"1,1,2,3", "2,4,5,6", "3,7,8,9"}));
    EXPECT_EQ(patch->ticks_done(), 3);
    EXPECT_TRUE(patch->sources_exhausted());
}

TEST_F(HostBlocks, WindowAndAllModesAndColumnSelection) {
    EXPECT_EQ(copy_table({{"Mode", "window"}, {"Window", 2}, {"Columns", "0,2"}}),
              (std::vector<std::string>{"1,1,3", "1,4,6", "2,7,9"}));
    EXPECT_EQ(copy_table({{"Mode", "all"}, {"Columns", "1-2"}}), (std::vector<std::string>{"1,2,3", "1,5,6", "1,8,9"}));
}

TEST_F(HostBlocks, BadSourceSettingsFailAtInit) {
    EXPECT_EQ(copy_table({{"Columns", "5"}}), std::vector<std::string>{"start failed"});
    EXPECT_EQ(patch->kernel().sink().events().back().text,
              (folder / "table.csv").string() + ":2: bad column list \"5\" among columns 0 to 2\n");
    EXPECT_EQ(copy_table({{"Mode", "sideways"}}), std::vector<std::string>{"start failed"});
    EXPECT_EQ(patch->kernel().sink().events().back().text, "unknown Mode \"sideways\" (row, window or all)\n");
}

TEST_F(HostBlocks, PrintReportsEachNewValue) {
    patch = std::make_unique<Patch>();
    patch->add_block("number", "host.constant", "double");
    patch->add_block("show", "host.print", "double");
    patch->set_parameter("number", "Value", 2.5);
    patch->link("number", "Output", "show", "Input");
    ASSERT_TRUE(patch->start());
    patch->run(3);
    ASSERT_EQ(patch->kernel().sink().events().size(), 1u);
    EXPECT_EQ(patch->kernel().sink().events()[0].text, "tick 1: 2.5\n");
    EXPECT_EQ(patch->kernel().sink().events()[0].instance_name, "show");
}

}  // namespace
