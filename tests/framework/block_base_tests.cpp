// The block base driven through the substitute host, with test blocks
// linked directly.
#include <gtest/gtest.h>

#include "common/live_objects_test.h"

#include "host/live_objects.h"
#include "test_blocks.h"

namespace framework_test {
namespace {

using mrvhost::BlockHarness;

// A declared RecordingBlock named "rec"; the live-object count is checked
// once the harness is gone.
class BlockBase : public LiveObjectsTest {
protected:
    void SetUp() override { harness.init_instance(); }
    void ReleaseHostObjects() override { owned.reset(); }
    std::unique_ptr<BlockHarness> owned = std::make_unique<BlockHarness>(factory_of<RecordingBlock>(), "rec");
    BlockHarness& harness = *owned;
    RecordingBlock* block = created_as<RecordingBlock>(harness);
};

TEST_F(BlockBase, LifecycleRunsTheOverridablesInHostOrder) {
    ASSERT_TRUE(harness.begin());
    harness.feed_double("In", 1.0);
    ASSERT_TRUE(harness.tick());
    harness.stop();
    harness.stop();  // a second Stop runs nothing
    harness.done();
    harness.done_instance();
    EXPECT_EQ(block->calls, (std::vector<std::string>{"InitSignature", "Init", "Check", "Start", "Execute", "Stop",
                                                      "Done", "DoneSignature"}));
}

TEST_F(BlockBase, ExceptionsBecomeFatalReports) {
    ASSERT_TRUE(harness.begin());
    block->execute_throw = "mrv";
    EXPECT_FALSE(harness.tick());
    block->execute_throw = "std";
    EXPECT_FALSE(harness.tick());
    EXPECT_EQ(harness.messages(Mrv::LevelFatal),
              (std::vector<std::string>{
                  "Block rec: unhandled exception of type Mrv::IException in method Execute; exception message is "
                  "boom\n\n",
                  "Block rec: unhandled exception of type std::exception in method Execute; exception message is "
                  "bang\n"}));
}

TEST_F(BlockBase, RecurringMessageIsSentOnceUntilATickPassesWithoutIt) {
    ASSERT_TRUE(harness.begin());
    block->execute_warning = "again\n";
    for (int i = 0; i < 4; ++i) harness.tick();
    EXPECT_EQ(harness.messages(Mrv::LevelWarning).size(), 1u);
    block->execute_warning.clear();
    harness.tick();
    block->execute_warning = "again\n";
    harness.tick();
    harness.tick();
    EXPECT_EQ(harness.messages(Mrv::LevelWarning).size(), 2u);
}

TEST_F(BlockBase, SameMessageTwiceInOneCycleIsSentOnce) {
    block->NotifyWarning("twice\n");
    block->NotifyWarning("twice\n");
    EXPECT_EQ(harness.messages(Mrv::LevelWarning).size(), 1u);
    // Init clears both message sets: the text may be sent again.
    ASSERT_TRUE(harness.init());
    block->NotifyWarning("twice\n");
    EXPECT_EQ(harness.messages(Mrv::LevelWarning).size(), 2u);
}

TEST_F(BlockBase, LongNotificationIsCutAt511Characters) {
    block->NotifyWarning("%s", std::string(600, 'x').c_str());
    ASSERT_EQ(harness.messages(Mrv::LevelWarning).size(), 1u);
    EXPECT_EQ(harness.messages(Mrv::LevelWarning)[0], std::string(511, 'x'));
}

std::vector<std::string> log_lines(const BlockHarness& harness) {
    std::vector<std::string> lines;
    for (const auto& entry : harness.log_entries())
        for (const auto& line : entry.lines) lines.push_back(line.text);
    return lines;
}

// A false result is an error, reported and, from trace level 2, logged.
TEST_F(BlockBase, FalseResultIsReportedAndLoggedFromTraceLevelTwo) {
    block->init_result = false;
    harness.set_trace_level(2);
    EXPECT_FALSE(harness.init());
    EXPECT_EQ(harness.messages(Mrv::LevelError), std::vector<std::string>{"Block rec: error in method Init\n"});
    ASSERT_EQ(harness.log_entries().size(), 1u);
    ASSERT_EQ(harness.log_entries()[0].lines.size(), 1u);
    EXPECT_EQ(harness.log_entries()[0].lines[0].severity, Mrv::LogError);
    EXPECT_EQ(harness.log_entries()[0].lines[0].text, "Block rec: error in method Init\n");
}

// Level 5 logs every method but Execute; level 6 adds Execute, one entry a call.
TEST_F(BlockBase, TraceLevelFiveLogsMethodsAndSixAlsoExecute) {
    for (int level : {5, 6}) {
        BlockHarness harness(factory_of<RecordingBlock>(), "rec");
        harness.set_trace_level(level);
        harness.init_instance();
        ASSERT_TRUE(harness.init());
        harness.tick();
        std::vector<std::string> expected{"Block rec: method InitSignature starting\n",
                                          "Block rec: method InitSignature returned\n",
                                          "Block rec: method Init starting\n", "Block rec: method Init returned\n"};
        if (level == 6)
            expected.insert(expected.end(),
                            {"Block rec: method Execute starting\n", "Block rec: method Execute returned\n"});
        EXPECT_EQ(log_lines(harness), expected);
        EXPECT_EQ(harness.log_entries().size(), level == 6 ? 3u : 2u);
        EXPECT_EQ(harness.log_entries().back().lines[0].severity, Mrv::LogInfo);
    }
}

TEST_F(BlockBase, ConstructionChecksTheCreationContext) {
    mrvhost::Ref<mrvhost::KernelServices> kernel = mrvhost::KernelServices::create();
    auto construct = [](const CreationContext* context) {
        try {
            RecordingBlock block(context);
            return std::string("created");
        } catch (const IException& error) {
            return std::string(error.GetDescription());
        }
    };
    EXPECT_EQ(construct(nullptr), "Null pointer to creation context.\n");
    CreationContext zero_id{0, 0, nullptr, kernel.get()};
    EXPECT_EQ(construct(&zero_id), "Null (zero) object identifier.\n");
    CreationContext no_kernel{1, 0, nullptr, nullptr};
    EXPECT_EQ(construct(&no_kernel), "Null pointer to kernel services.\n");
}

// ---- parameter changes ------------------------------------------------------

TEST_F(BlockBase, VetoKeepsTheOldValueAndTheCurrentValueCallsNothing) {
    block->veto = true;
    EXPECT_FALSE(harness.set_double("Y", 9.0));
    EXPECT_EQ(harness.parameter_double("Y"), 2.5);
    EXPECT_EQ(block->calls.back(), "OnChangingParameter Y");
    block->veto = false;
    EXPECT_TRUE(harness.set_double("Y", 9.0));
    EXPECT_EQ(harness.parameter_double("Y"), 9.0);
    EXPECT_EQ(block->calls.back(), "OnChangedParameter Y");
    const auto calls_before = block->calls.size();
    EXPECT_TRUE(harness.set_double("Y", 9.0));
    EXPECT_EQ(block->calls.size(), calls_before);
    // Without comparison before assignment the block hears of it.
    harness.parameter("Y").set_compares_before_assignment(false);
    EXPECT_TRUE(harness.set_double("Y", 9.0));
    EXPECT_EQ(block->calls.size(), calls_before + 2);
}

TEST_F(BlockBase, DesignOnlyParameterRefusesChangesWhileRunning) {
    ASSERT_TRUE(harness.begin());
    harness.set_running(true);
    const auto calls_before = block->calls.size();
    EXPECT_FALSE(harness.set_int("DesignOnly", 4));
    EXPECT_EQ(harness.parameter_int("DesignOnly"), 3);
    EXPECT_EQ(block->calls.size(), calls_before);
    EXPECT_TRUE(harness.set_double("Y", 1.0));  // other parameters still change
    harness.set_running(false);
    EXPECT_TRUE(harness.set_int("DesignOnly", 4));
}

TEST_F(BlockBase, StructuralChangeNeedsItsPermission) {
    EXPECT_TRUE(harness.set_matrix("M", 2, 2, {1, 2, 3, 4}));  // design: re-shaping allowed
    ASSERT_TRUE(harness.begin());
    harness.set_running(true);
    EXPECT_TRUE(harness.set_matrix("M", 2, 2, {5, 6, 7, 8}));  // same shape: not structural
    EXPECT_FALSE(harness.set_matrix("M", 3, 1, {1, 2, 3}));    // running: no re-shaping
    auto* value = Mrv::interface_cast<Mrv::IDoubleMatrix>(harness.parameter("M").GetValue());
    EXPECT_EQ(value->GetHeight(), 2);
    EXPECT_EQ(value->GetAt(1, 1), 8.0);
}

TEST_F(BlockBase, ValidatorsAndHandlersReplaceTheOverridables) {
    BlockHarness harness(factory_of<ValidatedBlock>());
    auto* block = created_as<ValidatedBlock>(harness);
    harness.init_instance();
    EXPECT_FALSE(harness.set_double("Gain", -1.0));
    EXPECT_EQ(harness.parameter_double("Gain"), 1.0);
    EXPECT_TRUE(harness.set_double("Gain", 3.0));
    EXPECT_TRUE(harness.set_double("Gain", 4.0));
    EXPECT_EQ(block->validations, 3);
    EXPECT_EQ(block->old_values, (std::vector<double>{1.0, 3.0}));
    EXPECT_TRUE(harness.messages().empty());
}

TEST_F(BlockBase, VisibilityChangeReachesTheHost) {
    block->SetParameterVisible("Y", false);
    EXPECT_FALSE(harness.parameter("Y").GetAttribute(Mrv::AttrVisible));
    ASSERT_EQ(harness.notifications().size(), 1u);
    EXPECT_EQ(harness.notifications()[0].kind, mrvhost::Notification::Visibility);
    EXPECT_EQ(harness.notifications()[0].parameter_id, "Y");
    EXPECT_FALSE(harness.notifications()[0].shown);
}

// ---- restore ----------------------------------------------------------------

// A saved signature is adopted as it is; one whose int X became a double
// is declared afresh, X at its new default and the rest carried over.
TEST_F(BlockBase, RestoreAdoptsTheSavedSignatureOrDeclaresAfresh) {
    BlockHarness original(factory_of<RecordingBlock>());
    original.init_instance();
    ASSERT_TRUE(original.set_int("X", 42));
    ASSERT_TRUE(original.set_double("Y", 8.0));
    mrvhost::Ref<mrvhost::Signature> saved = original.signature().clone();

    BlockHarness same(factory_of<RecordingBlock>());
    auto* adopted = created_as<RecordingBlock>(same);
    same.init_instance(*saved);
    EXPECT_EQ(adopted->calls, std::vector<std::string>{"CheckSignature"});
    EXPECT_EQ(same.parameter_double("Y"), 8.0);
    EXPECT_TRUE(same.messages().empty());

    BlockHarness restored(factory_of<RecordingBlock>(), "new");
    auto* block = created_as<RecordingBlock>(restored);
    block->declare_x_as_double = true;
    restored.init_instance(*saved);
    EXPECT_EQ(restored.messages(Mrv::LevelFatal),
              std::vector<std::string>{"Block new: unhandled exception of type Mrv::IException in method "
                                       "InitInstance; exception message is Invalid type cast.\n\n"});
    EXPECT_EQ(block->calls[0], "CheckSignature");
    EXPECT_EQ(block->calls[1], "InitSignature");
    EXPECT_EQ(restored.parameter_double("X"), 1.5);  // the new default, not 42
    EXPECT_EQ(restored.parameter_double("Y"), 8.0);  // carried over
    // The block is back on its own signature object.
    EXPECT_NE(static_cast<Mrv::ISignature*>(saved.get()), restored.block()->GetSignature());
}

// ---- user interface -----------------------------------------------------------

std::string draw_error(Mrv::IBlock* block, Mrv::IDrawingDevice* device, const Area* areas, int count) {
    try {
        block->DrawNCAreas(device, areas, count, 0);
        return "";
    } catch (const IException& error) {
        return error.GetDescription();
    }
}

// Each area is filled with the block's colour; drawing stops at the first failure.
TEST_F(BlockBase, DrawNCAreasFillsEachAreaWithTheBlockColour) {
    block->SetColour(1.0, 0.0, 0.0);
    mrvhost::Ref<mrvhost::Canvas> canvas = mrvhost::Canvas::create(8, 8);
    const Area areas[] = {{0, 0, 2, 2}, {4, 4, 3, 1}, {7, 7, 5, 5}, {1, 1, 1, 1}};
    EXPECT_EQ(draw_error(harness.block(), canvas.get(), areas, 2), "");
    EXPECT_EQ(canvas->pixel(1, 1).red, 255);
    EXPECT_EQ(canvas->pixel(6, 4).red, 255);
    EXPECT_EQ(canvas->pixel(6, 5).red, 0);
    EXPECT_EQ(draw_error(harness.block(), canvas.get(), areas, 0), "");
    EXPECT_EQ(canvas->fill_count(), 2);
    EXPECT_EQ(draw_error(harness.block(), canvas.get(), areas, 4), "CBlockImplBase<T>::DrawNCAreas -- FillRect failed\n");
    EXPECT_EQ(canvas->fill_count(), 4);
    block->SetColour(std::nan(""), 0.0, 0.0);
    EXPECT_EQ(draw_error(harness.block(), canvas.get(), areas, 1),
              "CBlockImplBase<T>::DrawNCAreas -- failed to create solid brush\n");
    EXPECT_EQ(canvas->fill_count(), 4);
}

TEST_F(BlockBase, UserInterfaceQueriesAnswerWithDefaults) {
    auto* handler = Mrv::interface_cast<Mrv::IEventHandler>(harness.block());
    ASSERT_NE(handler, nullptr);
    auto query = [&](int code, Mrv::int64 value = 0) {
        mrvhost::Ref<mrvhost::Event> event = mrvhost::Event::query(code, value);
        return handler->HandleEvent(event.get());
    };
    EXPECT_FALSE(query(0));
    EXPECT_TRUE(query(1));
    EXPECT_TRUE(query(8));
    EXPECT_FALSE(query(11));
    EXPECT_TRUE(query(12, 5));
    EXPECT_TRUE(harness.messages().empty());
    // A value getter the block did not override is an error, reported as a warning.
    EXPECT_FALSE(query(2, 1));
    EXPECT_EQ(harness.messages(Mrv::LevelWarning),
              std::vector<std::string>{"Method has not been overriden inderived classes.\n"});
}

}  // namespace
}  // namespace framework_test

namespace framework_test {
namespace {

class SharedHelpers : public LiveObjectsTest {};

TEST_F(SharedHelpers, InputsAreRequiredUnlessTheBlockSaysOtherwise) {
    BlockHarness harness(factory_of<ShapingBlock>());
    harness.init_instance();
    EXPECT_TRUE(harness.signature().find_input("Needed")->IsRequired());
    EXPECT_FALSE(harness.signature().find_input("Optional")->IsRequired());
}

TEST_F(SharedHelpers, ShapesEveryShapedClass) {
    BlockHarness harness(factory_of<ShapingBlock>());
    harness.init_instance();
    ASSERT_TRUE(harness.init());
    auto* ints = mrvhost::convert_or_throw<IIntMatrix>(harness.output("Ints"));
    EXPECT_EQ(ints->GetHeight(), 2);
    EXPECT_EQ(ints->GetWidth(), 3);
    auto set = mrvhost::Ref<IInitInfo>::adopt(harness.output("Set")->CreateInitInfo());
    auto* set_shape = mrvhost::convert_or_throw<ILabelledSetInitInfo>(set.get());
    EXPECT_EQ(set_shape->GetElementRows(), 4);
    EXPECT_EQ(set_shape->GetElementColumns(), 1);
    auto* samples = mrvhost::convert_or_throw<ITemporalData>(harness.output("Samples"));
    EXPECT_EQ(samples->GetSampleCount(), 8);
    EXPECT_EQ(samples->GetChannelCount(), 2);
}

TEST_F(SharedHelpers, TracePolicyReportsTheTextAndKeepsTheTickGoing) {
    BlockHarness harness(factory_of<TracingBlock>());
    created_as<TracingBlock>(harness)->throw_in_execute = true;
    harness.init_instance();
    ASSERT_TRUE(harness.begin());
    EXPECT_TRUE(harness.tick());
    EXPECT_EQ(harness.messages(), std::vector<std::string>{"Invalid type cast.\n"});
    EXPECT_EQ(harness.messages(LevelTrace).size(), 1u);
}

// The host-event handler answers an Mrv::IException with a warning; other
// exceptions are not the block's to hide.
TEST_F(SharedHelpers, HostEventsCatchOnlyTheHostsExceptions) {
    BlockHarness harness(factory_of<ShapingBlock>());
    auto* block = created_as<ShapingBlock>(harness);
    harness.init_instance();
    block->changed_throws = "mrv";
    EXPECT_FALSE(harness.set_double("Gain", 2.0));
    EXPECT_EQ(harness.messages(LevelWarning), std::vector<std::string>{"refused by the block\n"});
    block->changed_throws = "std";
    EXPECT_THROW(harness.set_double("Gain", 3.0), std::runtime_error);
}

}  // namespace
}  // namespace framework_test
