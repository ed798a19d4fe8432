// KohonenMap through the dlopen'ed plug-in: Init checks, the training
// schedule's triggers, outputs, class histograms and restores (the engine's
// numbers are the algorithm tests').
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "plugin/block_test.h"

namespace {

using mrvhost::BlockHarness;
using mrvhost::convert_or_throw;

const char* const Input = "KohonenMapInput";

class KohonenMap : public BlockTest {
protected:
    KohonenMap() : BlockTest("kohonenmap") {}
    void ReleaseHostObjects() override {
        restored.reset();
        BlockTest::ReleaseHostObjects();
    }
    // A small map, edited in design mode as a user would.
    BlockHarness& small(int rows, int cols, int length, int iterations) {
        BlockHarness& h = make("som");
        EXPECT_TRUE(h.set_int("KohonenMapParameterRows", rows));
        EXPECT_TRUE(h.set_int("KohonenMapParameterCols", cols));
        EXPECT_TRUE(h.set_int("KohonenMapParameterInputPatternLength", length));
        EXPECT_TRUE(h.set_int("KohonenMapParameterIterations", iterations));
        return h;
    }
    static Mrv::IDoubleMatrix* matrix(BlockHarness& h, const std::string& id) {
        return convert_or_throw<Mrv::IDoubleMatrix>(h.parameter(id).GetValue());
    }
    static std::vector<double> values(const Mrv::IDoubleMatrix* m) {
        return std::vector<double>(m->GetReadPointer(), m->GetReadPointer() + m->GetHeight() * m->GetWidth());
    }
    static int changed(BlockHarness& h, const std::string& id) {
        int count = 0;
        for (const auto& n : h.notifications())
            count += n.kind == mrvhost::Notification::ParameterChanged && n.parameter_id == id;
        return count;
    }
    static std::pair<int, int> point(BlockHarness& h) {
        auto* p = convert_or_throw<Mrv::IPoint2DInt>(h.output("KohonenMapOutputPoint"));
        return {p->GetX(), p->GetY()};
    }
    // Every element of the map output, plane after plane.
    static std::vector<double> planes(BlockHarness& h) {
        auto* set = convert_or_throw<Mrv::ILabelledSet>(h.output("KohonenMapOutputMap"));
        std::vector<double> all;
        for (Mrv::int32 i = 0; i < set->GetCount(); ++i) {
            const auto plane = values(set->GetItem(i));
            all.insert(all.end(), plane.begin(), plane.end());
        }
        return all;
    }
    bool feed(BlockHarness& h, const std::vector<double>& row) {
        h.feed_matrix(Input, 1, static_cast<int>(row.size()), row);
        return h.tick();
    }

    // Feature rows in [0, 1), the same in every run.
    std::vector<double> next_row(int length) {
        std::vector<double> row;
        for (int i = 0; i < length; ++i) row.push_back(std::generate_canonical<double, 53>(random));
        return row;
    }

    std::unique_ptr<BlockHarness> restored;
    std::mt19937 random{42};
};

TEST_F(KohonenMap, InitChecksTheInputPattern) {
    const struct {
        int rows, columns;
        bool accepted;
        std::string message;
    } cases[] = {
        {2, 4, false, "KohonenMap: input pattern must be a single row matrix.\n"},
        {1, 6, false,
         "KohonenMap: input pattern length (6) must match the corresponding parameter value (4) or that value +1 "
         "(5).\n"},
        {1, 4, true, "KohonenMap: input vector does not include class information.\n"},
        {1, 5, true, "KohonenMap: input vector includes class information.\n"},
    };
    BlockHarness& h = make("som");
    for (const auto& c : cases) {
        h.clear_notifications();
        h.feed_matrix(Input, c.rows, c.columns, std::vector<double>(c.rows * c.columns, 0.5));
        EXPECT_EQ(h.init(), c.accepted);
        EXPECT_EQ(h.messages().at(0), c.message);
        h.done();
    }
    // A saved map of the wrong shape: reported, the random map stays.
    convert_or_throw<Mrv::IDoubleMatrix>(h.parameter("KohonenMapParameterMatrix").GetValue())->Reinit(2, 2);
    h.clear_notifications();
    ASSERT_TRUE(h.begin());
    EXPECT_EQ(h.messages(Mrv::LevelError),
              std::vector<std::string>{
                  "KohonenMap: SOM dimensions do not correspond to parameter or output matrix dimensions.\n"});
    // An input that changes shape while running is not read past its end.
    h.clear_notifications();
    ASSERT_TRUE(feed(h, {0.5}));
    EXPECT_EQ(h.messages(Mrv::LevelWarning).size(), 1u);
    EXPECT_EQ(h.output_time("KohonenMapOutputPoint"), 0);
}

TEST_F(KohonenMap, GridSizeIsClampedAndTooLargeMapsAreRefused) {
    BlockHarness& h = make("som");
    h.clear_notifications();
    EXPECT_TRUE(h.set_int("KohonenMapParameterRows", 0));
    EXPECT_TRUE(h.set_int("KohonenMapParameterCols", 250));
    EXPECT_EQ(h.parameter_int("KohonenMapParameterRows"), 1);
    EXPECT_EQ(h.parameter_int("KohonenMapParameterCols"), 100);
    EXPECT_EQ(changed(h, "KohonenMapParameterRows"), 1);
    EXPECT_EQ(changed(h, "KohonenMapParameterMatrix"), 2);
    EXPECT_EQ(matrix(h, "KohonenMapParameterMatrix")->GetWidth(), 100);
    EXPECT_TRUE(h.set_int("KohonenMapParameterClasses", 2));
    EXPECT_EQ(matrix(h, "KohonenMapParameterClassMatrix")->GetHeight(), 2);
    EXPECT_TRUE(h.messages().empty());
    EXPECT_TRUE(h.set_int("KohonenMapParameterRows", 40));
    EXPECT_TRUE(h.set_int("KohonenMapParameterCols", 40));
    EXPECT_FALSE(h.set_int("KohonenMapParameterInputPatternLength", 20000));  // 40 x 40 x 20000 values
    EXPECT_EQ(h.messages(Mrv::LevelError),
              std::vector<std::string>{"KohonenMap: a 40 x 40 map of 20000 weights and 2 classes is too large to keep "
                                       "(at most 16777216 values per matrix).\n"});
    // A patch file can bring a grid size without an edit: Init refuses it.
    h.clear_notifications();
    convert_or_throw<Mrv::IInt>(h.parameter("KohonenMapParameterCols").GetValue())->SetValue(0);
    h.feed_matrix(Input, 1, 4, std::vector<double>(4, 0.5));
    EXPECT_FALSE(h.init());
    EXPECT_EQ(h.messages(Mrv::LevelError)[0], "KohonenMap: Columns must lie between 1 and 100, not 0.\n");
}

// The schedule's numbers are the engine's; here Status follows it and the
// triggers restart or end it.
TEST_F(KohonenMap, TrainsIterationsMinusOneTimesThenRuns) {
    BlockHarness& h = small(3, 3, 2, 5);
    h.feed_matrix(Input, 1, 2, {0.5, 0.5});
    ASSERT_TRUE(h.begin());
    for (int tick = 1; tick <= 4; ++tick) ASSERT_TRUE(feed(h, next_row(2)));
    EXPECT_EQ(h.parameter_int("KohonenMapParameterStatus"), 0);
    std::vector<double> before = planes(h);
    ASSERT_TRUE(feed(h, next_row(2)));  // the fifth only ends training
    EXPECT_EQ(planes(h), before);
    EXPECT_EQ(h.parameter_int("KohonenMapParameterStatus"), 1);
    EXPECT_EQ(changed(h, "KohonenMapParameterStatus"), 1);

    EXPECT_TRUE(h.fire("KohonenMapParameterTrain"));
    EXPECT_EQ(h.parameter_int("KohonenMapParameterStatus"), 0);
    ASSERT_TRUE(feed(h, next_row(2)));
    EXPECT_NE(planes(h), before);
    EXPECT_TRUE(h.fire("KohonenMapParameterRun"));
    EXPECT_EQ(h.parameter_int("KohonenMapParameterStatus"), 1);
    before = planes(h);
    ASSERT_TRUE(feed(h, next_row(2)));
    EXPECT_EQ(planes(h), before);
    EXPECT_EQ(h.output_time("KohonenMapOutputMap"), h.clock().GetCurrentTime());
}

TEST_F(KohonenMap, OutputsTheBestMatchingNodeAndOnePlanePerWeight) {
    BlockHarness& h = small(4, 5, 3, 100);
    // Weights all 0 but those of node (row 2, column 3), which match the pattern.
    std::vector<double> weights(12 * 5, 0.0);
    for (int p = 0; p < 3; ++p) weights[static_cast<std::size_t>((p * 4 + 2) * 5 + 3)] = 0.1 * (p + 1);
    ASSERT_TRUE(h.set_matrix("KohonenMapParameterMatrix", 12, 5, weights));
    h.feed_matrix(Input, 1, 3, {0.5, 0.5, 0.5});
    ASSERT_TRUE(h.begin());
    ASSERT_TRUE(h.fire("KohonenMapParameterRun"));
    ASSERT_TRUE(feed(h, {0.1, 0.2, 0.3}));
    EXPECT_EQ(point(h), (std::pair<int, int>{3, 2}));
    auto* set = convert_or_throw<Mrv::ILabelledSet>(h.output("KohonenMapOutputMap"));
    ASSERT_EQ(set->GetCount(), 3);
    EXPECT_STREQ(set->GetName(2), "2");
    EXPECT_EQ(set->GetItem(0)->GetHeight(), 4);
    EXPECT_EQ(planes(h), weights);
    for (const char* id : {"KohonenMapOutputPoint", "KohonenMapOutputMap"})
        EXPECT_EQ(h.output_time(id), h.clock().GetCurrentTime()) << id;
}

TEST_F(KohonenMap, ClassHistogramsCountAndDecide) {
    BlockHarness& h = small(3, 4, 2, 100);
    ASSERT_TRUE(h.set_bool("KohonenMapParameterUseClasses", true));
    h.feed_matrix(Input, 1, 3, {0.5, 0.5, 1});
    ASSERT_TRUE(h.begin());
    ASSERT_TRUE(h.fire("KohonenMapParameterRun"));
    h.clear_notifications();
    ASSERT_TRUE(feed(h, {0.2, 0.7, 3}));
    const auto [x, y] = point(h);
    auto* counts = matrix(h, "KohonenMapParameterClassMatrix");
    EXPECT_EQ(counts->GetAt(2 * 3 + y, x), 1.0);  // block 2 holds class 3
    EXPECT_EQ(h.output_int("KohonenMapOutputClass"), 3);
    EXPECT_EQ(changed(h, "KohonenMapParameterClassMatrix"), 1);

    // Two classes tied at the node: unpredictable (-1), or the first of
    // them when the unpredictable state is disabled.
    ASSERT_TRUE(feed(h, {0.2, 0.7, 1}));
    EXPECT_EQ(h.output_int("KohonenMapOutputClass"), -1);
    ASSERT_TRUE(h.set_int("KohonenMapParameterEnableUnpredictable", 1));

    // A class outside 1..5 is skipped, with one warning while it recurs.
    h.clear_notifications();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(feed(h, {0.2, 0.7, 7}));
        EXPECT_EQ(h.output_int("KohonenMapOutputClass"), 1);
    }
    EXPECT_EQ(h.messages(Mrv::LevelWarning),
              std::vector<std::string>{
                  "KohonenMap: class value 7 is outside the valid range 1..5; the class histograms are not updated.\n"});

    EXPECT_TRUE(h.fire("KohonenMapParameterResetClasses"));
    EXPECT_EQ(values(counts), std::vector<double>(60, 0.0));
}

TEST_F(KohonenMap, CustomParametersAreAddedAndRemoved) {
    BlockHarness& h = small(4, 4, 2, 2);
    ASSERT_TRUE(h.set_bool("KohonenMapParameterCustomParameters", true));
    EXPECT_STREQ(h.parameter("KohonenMapParameterRadius").GetName(), "Custom radius value");
    EXPECT_EQ(signature_changes(), 2);
    EXPECT_EQ(changed(h, "KohonenMapParameterStatus"), 1);

    // Custom training does not end by itself.
    ASSERT_TRUE(h.set_double("KohonenMapParameterLearningRate", 1.0));
    ASSERT_TRUE(h.set_double("KohonenMapParameterRadius", 0.1));  // 0.4 grid units: the winner alone
    h.feed_matrix(Input, 1, 2, {0.5, 0.5});
    ASSERT_TRUE(h.begin());
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(feed(h, {0.25, 0.75}));
    EXPECT_EQ(h.parameter_int("KohonenMapParameterStatus"), 0);
    const auto [x, y] = point(h);
    EXPECT_DOUBLE_EQ(planes(h)[static_cast<std::size_t>(y * 4 + x)], 0.25);  // rate 1: the winner onto the pattern
    h.stop();
    h.done();

    ASSERT_TRUE(h.set_bool("KohonenMapParameterCustomParameters", false));
    EXPECT_EQ(h.signature().find_parameter("KohonenMapParameterRadius"), nullptr);
    EXPECT_EQ(h.signature().find_parameter("KohonenMapParameterLearningRate"), nullptr);
    EXPECT_EQ(signature_changes(), 3);
    ASSERT_TRUE(h.begin());  // internal 0.5 and 0.1 again
    ASSERT_TRUE(feed(h, {0.25, 0.75}));
    ASSERT_TRUE(feed(h, {0.25, 0.75}));
    EXPECT_EQ(h.parameter_int("KohonenMapParameterStatus"), 1);
}

TEST_F(KohonenMap, ProvideTriggersAreServedWithoutNewInput) {
    BlockHarness& h = small(3, 3, 2, 50);
    ASSERT_TRUE(h.set_bool("KohonenMapParameterUseClasses", true));
    h.feed_matrix(Input, 1, 3, {0.5, 0.5, 2});
    ASSERT_TRUE(h.begin());
    ASSERT_TRUE(h.tick());
    const auto trained = planes(h);
    EXPECT_TRUE(h.fire("KohonenMapParameterProvideMap"));
    EXPECT_TRUE(h.fire("KohonenMapParameterProvideClasses"));
    EXPECT_TRUE(h.status().execution_request().pending());
    EXPECT_EQ(h.run_requested(), 1);
    // The input's data query answers false for the old pattern: not used again.
    EXPECT_EQ(planes(h), trained);
    EXPECT_EQ(values(matrix(h, "KohonenMapParameterClassMatrix")), values(h.output_matrix("KohonenMapOutputClassMatrix")));
    auto* counts = h.output_matrix("KohonenMapOutputClassMatrix");
    const auto [x, y] = point(h);
    EXPECT_EQ(counts->GetAt(1 * 3 + y, x), 1.0);
    auto* map_matrix = h.output_matrix("KohonenMapOutputMapMatrix");
    ASSERT_EQ(map_matrix->GetHeight(), 6);
    EXPECT_EQ(values(map_matrix), trained);
    EXPECT_EQ(h.output_time("KohonenMapOutputMapMatrix"), h.clock().GetCurrentTime());
    EXPECT_EQ(h.output_time("KohonenMapOutputClassMatrix"), h.clock().GetCurrentTime());
}

TEST_F(KohonenMap, ResetISearchPresetsTheCorners) {
    BlockHarness& h = make("som");
    EXPECT_TRUE(h.fire("KohonenMapParameterResetISearch"));
    auto* map = matrix(h, "KohonenMapParameterMatrix");
    EXPECT_EQ(map->GetAt(3 * 40 + 0, 39), 0.58);  // weight 3 of node (0, 39)
    EXPECT_TRUE(h.messages().empty());
    EXPECT_TRUE(h.set_int("KohonenMapParameterInputPatternLength", 5));
    EXPECT_TRUE(h.fire("KohonenMapParameterResetISearch"));
    EXPECT_EQ(h.messages(Mrv::LevelError),
              std::vector<std::string>{"KohonenMap: this operation is possible only if the input vector size is 4.\n"});
    EXPECT_EQ(map->GetAt(0, 39), 1.0);  // applied all the same
}

// A trained map saved with the block comes back exactly: the restored
// block gives the same node, class and planes.
TEST_F(KohonenMap, RestoredMapGivesIdenticalOutputs) {
    BlockHarness& h = small(5, 6, 3, 20);
    ASSERT_TRUE(h.set_bool("KohonenMapParameterUseClasses", true));
    h.feed_matrix(Input, 1, 4, {0.5, 0.5, 0.5, 1});
    ASSERT_TRUE(h.begin());
    for (double label : {1, 2, 1, 2, 2}) {
        auto row = next_row(3);
        row.push_back(label);
        ASSERT_TRUE(feed(h, row));
    }
    h.stop();
    h.done();
    restored = std::make_unique<BlockHarness>(plugin.find_class("kohonenmap"), "again");
    restored->init_instance(*h.signature().clone());
    const auto row = next_row(3);
    for (BlockHarness* run : {&h, restored.get()}) {
        run->feed_matrix(Input, 1, 3, {0.5, 0.5, 0.5});
        ASSERT_TRUE(run->begin());
        ASSERT_TRUE(feed(*run, row));
    }
    EXPECT_EQ(point(h), point(*restored));
    EXPECT_EQ(h.output_int("KohonenMapOutputClass"), restored->output_int("KohonenMapOutputClass"));
    EXPECT_EQ(planes(h), planes(*restored));
    EXPECT_TRUE(restored->messages(Mrv::LevelError).empty());
}

}  // namespace
