// KohonenMap through the dlopen'ed plug-in and the substitute host.
#include <gtest/gtest.h>

#include "common/live_objects_test.h"

#include <cmath>
#include <limits>

#include "host/harness.h"
#include "host/live_objects.h"

namespace {

using mrvhost::BlockHarness;
using mrvhost::convert_or_throw;
using mrvhost::Plugin;

const char* const Input = "KohonenMapInput";

// Deterministic feature rows in [0, 1).
class Rows {
public:
    std::vector<double> next(int length) {
        std::vector<double> row;
        for (int i = 0; i < length; ++i) {
            state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
            row.push_back(static_cast<double>(state_ >> 11) / 9007199254740992.0);
        }
        return row;
    }

private:
    unsigned long long state_ = 42;
};

class KohonenMap : public LiveObjectsTest {
protected:
    void ReleaseHostObjects() override {
        restored.reset();
        harness.reset();
    }
    BlockHarness& make() {
        harness = std::make_unique<BlockHarness>(plugin.find_class("kohonenmap"), "som");
        harness->init_instance();
        return *harness;
    }
    // A small map, edited in design mode as a user would.
    BlockHarness& small(int rows, int cols, int length, int iterations) {
        BlockHarness& h = make();
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
    static int signature_changes(BlockHarness& h) {
        int count = 0;
        for (const auto& n : h.notifications()) count += n.kind == mrvhost::Notification::SignatureChanged;
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

    Plugin plugin{Plugin::default_path()};
    std::unique_ptr<BlockHarness> harness, restored;
    Rows data;
};

TEST_F(KohonenMap, DeclaresItsPinsAndParameters) {
    BlockHarness& h = make();
    auto& s = h.signature();
    ASSERT_EQ(s.GetInputs()->GetCount(), 1);
    EXPECT_STREQ(s.GetInputs()->GetItem(0)->GetName(), "Input Pattern");
    EXPECT_TRUE(s.GetInputs()->GetItem(0)->IsRequired());
    const std::vector<std::string> ids = {
        "KohonenMapParameterMatrix",        "KohonenMapParameterInputPatternLength", "KohonenMapParameterStatus",
        "KohonenMapParameterTrain",         "KohonenMapParameterRun",                "KohonenMapParameterResetMap",
        "KohonenMapParameterResetClasses",  "KohonenMapParameterResetISearch",       "KohonenMapParameterProvideMap",
        "KohonenMapParameterProvideClasses", "KohonenMapParameterRows",              "KohonenMapParameterCols",
        "KohonenMapParameterIterations",    "KohonenMapParameterClasses",            "KohonenMapParameterClassMatrix",
        "KohonenMapParameterUseClasses",    "KohonenMapParameterCustomParameters",   "KohonenMapParameterEnableUnpredictable"};
    ASSERT_EQ(s.GetParameters()->GetCount(), static_cast<int>(ids.size()));
    for (std::size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(s.GetParameters()->GetItem(static_cast<int>(i))->GetId(), ids[i]);
    EXPECT_STREQ(h.parameter("KohonenMapParameterRows").GetDescription(), "The Kohonen Map number of columns.");
    EXPECT_STREQ(h.parameter("KohonenMapParameterResetISearch").GetDescription(),
                 "The Kohone Map is re-initialized to the starting state for the I-Search demo.");
    const std::vector<std::string> outputs = {"KohonenMapOutputMap", "KohonenMapOutputPoint", "KohonenMapOutputClass",
                                              "KohonenMapOutputMapMatrix", "KohonenMapOutputClassMatrix"};
    ASSERT_EQ(s.GetOutputs()->GetCount(), 5);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(s.GetOutputs()->GetItem(i)->GetId(), outputs[static_cast<std::size_t>(i)]);
    EXPECT_STREQ(s.GetOutputs()->GetItem(1)->GetDatatypeCatalogId(), "base");
    EXPECT_NE(std::string(s.GetOutputs()->GetItem(0)->GetDescription()).find("lebeled set"), std::string::npos);

    EXPECT_EQ(h.parameter_int("KohonenMapParameterInputPatternLength"), 4);
    EXPECT_EQ(h.parameter_int("KohonenMapParameterRows"), 40);
    EXPECT_EQ(h.parameter_int("KohonenMapParameterIterations"), 1000);
    EXPECT_EQ(h.parameter_int("KohonenMapParameterClasses"), 5);
    EXPECT_FALSE(h.parameter_bool("KohonenMapParameterUseClasses"));
    EXPECT_EQ(matrix(h, "KohonenMapParameterMatrix")->GetHeight(), 160);
    EXPECT_EQ(matrix(h, "KohonenMapParameterMatrix")->GetWidth(), 40);
    EXPECT_EQ(matrix(h, "KohonenMapParameterClassMatrix")->GetHeight(), 200);
    for (double w : values(matrix(h, "KohonenMapParameterMatrix"))) ASSERT_TRUE(w >= 0.0 && w < 1.0);

    auto& status = h.parameter("KohonenMapParameterStatus");
    EXPECT_FALSE(status.GetAttribute(Mrv::AttrVisible));
    EXPECT_FALSE(status.GetAttribute(Mrv::AttrRunChange));
    EXPECT_EQ(status.domain_class_id(), "int-domain");
    auto* combo = Mrv::interface_cast<Mrv::IComboDatatypeLayout>(h.layout().GetLayout("KohonenMapParameterStatus"));
    ASSERT_NE(combo, nullptr);
    EXPECT_STREQ(combo->GetItem(1), "running");
    combo = Mrv::interface_cast<Mrv::IComboDatatypeLayout>(h.layout().GetLayout("KohonenMapParameterEnableUnpredictable"));
    ASSERT_NE(combo, nullptr);
    EXPECT_STREQ(combo->GetItem(0), "true");  // 0 is "true": unpredictable state enabled
    EXPECT_TRUE(h.parameter("KohonenMapParameterIterations").GetAttribute(Mrv::AttrRunChange));
    EXPECT_FALSE(h.parameter("KohonenMapParameterRows").GetAttribute(Mrv::AttrRunChange));
    ASSERT_EQ(h.status().driving_inputs().size(), 1u);
    EXPECT_EQ(h.status().driving_inputs()[0].first, Input);
}

TEST_F(KohonenMap, InitChecksTheInputPattern) {
    BlockHarness& h = make();
    h.feed_matrix(Input, 2, 4, std::vector<double>(8, 0.5));
    EXPECT_FALSE(h.init());
    EXPECT_EQ(h.messages(Mrv::LevelError), (std::vector<std::string>{"KohonenMap: input pattern must be a single row matrix.\n",
                                                                      "Block som: error in method Init\n"}));
    h.done();
    h.clear_notifications();
    h.feed_matrix(Input, 1, 6, std::vector<double>(6, 0.5));
    EXPECT_FALSE(h.init());
    EXPECT_EQ(h.messages(Mrv::LevelError)[0],
              "KohonenMap: input pattern length (6) must match the corresponding parameter value (4) or that value +1 (5).\n");
    h.done();
    h.clear_notifications();
    h.feed_matrix(Input, 1, 4, std::vector<double>(4, 0.5));
    EXPECT_TRUE(h.init());
    EXPECT_EQ(h.messages(), std::vector<std::string>{"KohonenMap: input vector does not include class information.\n"});
    h.done();
    h.clear_notifications();
    h.feed_matrix(Input, 1, 5, std::vector<double>(5, 0.5));
    EXPECT_TRUE(h.init());
    EXPECT_EQ(h.messages(), std::vector<std::string>{"KohonenMap: input vector includes class information.\n"});
}

TEST_F(KohonenMap, CountsTakeAnyValueButTooLargeMapsAreRefused) {
    BlockHarness& h = small(2, 2, 2, -1);
    EXPECT_TRUE(h.set_int("KohonenMapParameterClasses", 0));
    EXPECT_TRUE(h.set_int("KohonenMapParameterInputPatternLength", -3));
    EXPECT_TRUE(h.set_int("KohonenMapParameterInputPatternLength", 2));
    // A negative length has no planes to write into the map parameter.
    EXPECT_EQ(h.messages(Mrv::LevelError),
              std::vector<std::string>{
                  "KohonenMap: SOM dimensions do not correspond to parameter or output matrix dimensions.\n"});

    // Iterations -1: the map is done at creation, so the first pattern
    // switches to running without an update. No classes: no count, and no
    // node has a single prevalent class (-1), or class 1 when the
    // unpredictable state is disabled.
    ASSERT_TRUE(h.set_bool("KohonenMapParameterUseClasses", true));
    h.feed_matrix(Input, 1, 3, {0.5, 0.5, 1});
    ASSERT_TRUE(h.begin());
    const std::vector<double> built = values(matrix(h, "KohonenMapParameterMatrix"));
    ASSERT_TRUE(feed(h, {0.2, 0.7, 1}));
    EXPECT_EQ(planes(h), built);
    EXPECT_EQ(h.parameter_int("KohonenMapParameterStatus"), 1);
    EXPECT_EQ(h.output_int("KohonenMapOutputClass"), -1);
    ASSERT_TRUE(h.set_int("KohonenMapParameterEnableUnpredictable", 1));
    ASSERT_TRUE(feed(h, {0.2, 0.7, 1}));
    EXPECT_EQ(h.output_int("KohonenMapOutputClass"), 1);
    h.stop();
    h.done();

    // A pattern length of -1 takes an empty input as "with classes"; nodes
    // without weights are all at distance 0, so the first one matches.
    ASSERT_TRUE(h.set_int("KohonenMapParameterInputPatternLength", -1));
    h.feed_matrix(Input, 1, 0, {});
    ASSERT_TRUE(h.begin());
    ASSERT_TRUE(h.tick());
    EXPECT_EQ(point(h), (std::pair<int, int>{0, 0}));
    EXPECT_EQ(h.output_time("KohonenMapOutputPoint"), h.clock().GetCurrentTime());
    h.stop();
    h.done();

    EXPECT_TRUE(h.set_int("KohonenMapParameterInputPatternLength", 2));
    h.clear_notifications();
    EXPECT_TRUE(h.set_int("KohonenMapParameterRows", 40));
    EXPECT_TRUE(h.set_int("KohonenMapParameterCols", 40));
    EXPECT_FALSE(h.set_int("KohonenMapParameterInputPatternLength", 20000));  // 40 x 40 x 20000 values
    EXPECT_TRUE(h.set_int("KohonenMapParameterRows", 1));
    EXPECT_TRUE(h.set_int("KohonenMapParameterCols", 100));
    EXPECT_TRUE(h.set_int("KohonenMapParameterInputPatternLength", 2000));
    EXPECT_FALSE(h.set_int("KohonenMapParameterRows", 200));  // clamped to 100: still too many
    EXPECT_EQ(h.messages(Mrv::LevelError),
              (std::vector<std::string>{
                  "KohonenMap: a 40 x 40 map of 20000 weights and 0 classes is too large to keep (at most 16777216 "
                  "values per matrix).\n",
                  "KohonenMap: a 100 x 100 map of 2000 weights and 0 classes is too large to keep (at most 16777216 "
                  "values per matrix).\n"}));
    EXPECT_TRUE(h.set_int("KohonenMapParameterInputPatternLength", 4));

    // A patch file can bring a grid size without an edit: Init refuses it.
    h.clear_notifications();
    convert_or_throw<Mrv::IInt>(h.parameter("KohonenMapParameterCols").GetValue())->SetValue(0);
    h.feed_matrix(Input, 1, 4, std::vector<double>(4, 0.5));
    EXPECT_FALSE(h.init());
    EXPECT_EQ(h.messages(Mrv::LevelError)[0], "KohonenMap: Columns must lie between 1 and 100, not 0.\n");
}

TEST_F(KohonenMap, GridSizeIsClampedAndTheMatricesFollow) {
    BlockHarness& h = make();
    h.clear_notifications();
    EXPECT_TRUE(h.set_int("KohonenMapParameterRows", 0));
    EXPECT_TRUE(h.set_int("KohonenMapParameterCols", 250));
    EXPECT_EQ(h.parameter_int("KohonenMapParameterRows"), 1);
    EXPECT_EQ(h.parameter_int("KohonenMapParameterCols"), 100);
    EXPECT_EQ(changed(h, "KohonenMapParameterRows"), 1);
    EXPECT_EQ(changed(h, "KohonenMapParameterCols"), 1);
    EXPECT_EQ(changed(h, "KohonenMapParameterMatrix"), 2);
    EXPECT_EQ(changed(h, "KohonenMapParameterClassMatrix"), 2);
    EXPECT_EQ(matrix(h, "KohonenMapParameterMatrix")->GetHeight(), 4);
    EXPECT_EQ(matrix(h, "KohonenMapParameterMatrix")->GetWidth(), 100);
    EXPECT_EQ(matrix(h, "KohonenMapParameterClassMatrix")->GetHeight(), 5);
    EXPECT_TRUE(h.set_int("KohonenMapParameterClasses", 2));
    EXPECT_EQ(matrix(h, "KohonenMapParameterClassMatrix")->GetHeight(), 2);
    EXPECT_TRUE(h.set_int("KohonenMapParameterInputPatternLength", 3));
    EXPECT_EQ(matrix(h, "KohonenMapParameterMatrix")->GetHeight(), 3);
    EXPECT_TRUE(h.messages().empty());
}

TEST_F(KohonenMap, TrainsIterationsMinusOneTimesThenRuns) {
    BlockHarness& h = small(3, 3, 2, 5);
    h.feed_matrix(Input, 1, 2, {0.5, 0.5});
    ASSERT_TRUE(h.begin());
    std::vector<double> before = planes(h);
    for (int tick = 1; tick <= 4; ++tick) {
        ASSERT_TRUE(feed(h, data.next(2)));
        EXPECT_NE(planes(h), before) << "tick " << tick;
        before = planes(h);
        EXPECT_EQ(h.parameter_int("KohonenMapParameterStatus"), 0);
    }
    ASSERT_TRUE(feed(h, data.next(2)));  // the fifth only ends training
    EXPECT_EQ(planes(h), before);
    EXPECT_EQ(h.parameter_int("KohonenMapParameterStatus"), 1);
    EXPECT_EQ(changed(h, "KohonenMapParameterStatus"), 1);
    ASSERT_TRUE(feed(h, data.next(2)));
    EXPECT_EQ(planes(h), before);

    // Train starts the schedule again; Run ends it.
    EXPECT_TRUE(h.fire("KohonenMapParameterTrain"));
    EXPECT_EQ(h.parameter_int("KohonenMapParameterStatus"), 0);
    ASSERT_TRUE(feed(h, data.next(2)));
    EXPECT_NE(planes(h), before);
    EXPECT_TRUE(h.fire("KohonenMapParameterRun"));
    EXPECT_EQ(h.parameter_int("KohonenMapParameterStatus"), 1);
    before = planes(h);
    ASSERT_TRUE(feed(h, data.next(2)));
    EXPECT_EQ(planes(h), before);
    EXPECT_EQ(h.output_time("KohonenMapOutputMap"), h.clock().GetCurrentTime());
    // A map rebuilt while running shows at the next pattern.
    EXPECT_TRUE(h.fire("KohonenMapParameterResetMap"));
    ASSERT_TRUE(feed(h, data.next(2)));
    EXPECT_NE(planes(h), before);
    EXPECT_EQ(planes(h), values(matrix(h, "KohonenMapParameterMatrix")));
    EXPECT_TRUE(h.messages(Mrv::LevelError).empty());
    h.stop();
    h.done();

    // No iterations: the map is done as built and serves as it is.
    EXPECT_TRUE(h.set_int("KohonenMapParameterIterations", 0));
    EXPECT_TRUE(h.fire("KohonenMapParameterTrain"));
    h.feed_matrix(Input, 1, 2, {0.5, 0.5});
    ASSERT_TRUE(h.begin());
    const std::vector<double> saved = values(matrix(h, "KohonenMapParameterMatrix"));
    ASSERT_TRUE(feed(h, data.next(2)));
    EXPECT_EQ(planes(h), saved);
    EXPECT_EQ(h.parameter_int("KohonenMapParameterStatus"), 1);
    h.stop();
    h.done();

    // In custom mode a map that is already done trains one more step, and
    // Status turns to "running" in the same execution.
    ASSERT_TRUE(h.set_bool("KohonenMapParameterCustomParameters", true));
    EXPECT_TRUE(h.fire("KohonenMapParameterTrain"));
    ASSERT_TRUE(h.begin());
    ASSERT_TRUE(feed(h, data.next(2)));
    EXPECT_NE(planes(h), values(matrix(h, "KohonenMapParameterMatrix")));
    EXPECT_EQ(h.parameter_int("KohonenMapParameterStatus"), 1);
    EXPECT_TRUE(h.messages(Mrv::LevelError).empty());
}

TEST_F(KohonenMap, OutputsTheBestMatchingNodeAndOnePlanePerWeight) {
    BlockHarness& h = small(4, 5, 3, 100);
    h.feed_matrix(Input, 1, 3, {0.5, 0.5, 0.5});
    ASSERT_TRUE(h.begin());
    ASSERT_TRUE(h.fire("KohonenMapParameterRun"));
    ASSERT_TRUE(feed(h, {0.1, 0.2, 0.3}));
    auto* set = convert_or_throw<Mrv::ILabelledSet>(h.output("KohonenMapOutputMap"));
    ASSERT_EQ(set->GetCount(), 3);
    EXPECT_STREQ(set->GetName(2), "2");
    EXPECT_EQ(set->GetItem(0)->GetHeight(), 4);
    EXPECT_EQ(set->GetItem(0)->GetWidth(), 5);
    EXPECT_EQ(h.output_time("KohonenMapOutputMap"), h.clock().GetCurrentTime());
    // The nearest node by the planes themselves.
    const auto all = planes(h);
    const std::vector<double> x = {0.1, 0.2, 0.3};
    double best = std::numeric_limits<double>::infinity();
    std::pair<int, int> expected;
    for (int r = 0; r < 4; ++r)
        for (int q = 0; q < 5; ++q) {
            double d = 0;
            for (int p = 0; p < 3; ++p) d += std::pow(x[p] - all[static_cast<std::size_t>(p * 20 + r * 5 + q)], 2);
            if (d < best) best = d, expected = {q, r};
        }
    EXPECT_EQ(point(h), expected);
    EXPECT_EQ(h.output_time("KohonenMapOutputPoint"), h.clock().GetCurrentTime());
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
    EXPECT_EQ(values(counts).size(), 5u * 3 * 4);
    double total = 0;
    for (double c : values(counts)) total += c;
    EXPECT_EQ(total, 1.0);
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
    EXPECT_EQ(counts->GetAt(2 * 3 + y, x), 1.0);
    EXPECT_EQ(counts->GetAt(y, x), 1.0);
    ASSERT_TRUE(feed(h, {0.2, 0.7, std::nan("")}));
    EXPECT_EQ(h.messages(Mrv::LevelWarning).size(), 2u);

    EXPECT_TRUE(h.fire("KohonenMapParameterResetClasses"));
    EXPECT_EQ(values(counts), std::vector<double>(60, 0.0));
}

TEST_F(KohonenMap, CustomParametersAreAddedAndRemoved) {
    BlockHarness& h = small(4, 4, 2, 2);
    ASSERT_TRUE(h.set_bool("KohonenMapParameterCustomParameters", true));
    EXPECT_EQ(h.parameter_double("KohonenMapParameterRadius"), 0.5);
    EXPECT_EQ(h.parameter_double("KohonenMapParameterLearningRate"), 0.1);
    EXPECT_STREQ(h.parameter("KohonenMapParameterRadius").GetName(), "Custom radius value");
    EXPECT_EQ(signature_changes(h), 2);
    EXPECT_EQ(changed(h, "KohonenMapParameterStatus"), 1);

    // Custom training does not end by itself.
    ASSERT_TRUE(h.set_double("KohonenMapParameterLearningRate", 1.0));
    ASSERT_TRUE(h.set_double("KohonenMapParameterRadius", 0.1));  // 0.4 grid units: the winner alone
    h.feed_matrix(Input, 1, 2, {0.5, 0.5});
    ASSERT_TRUE(h.begin());
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(feed(h, {0.25, 0.75}));
    EXPECT_EQ(h.parameter_int("KohonenMapParameterStatus"), 0);
    const auto all = planes(h);
    const auto [x, y] = point(h);
    EXPECT_DOUBLE_EQ(all[static_cast<std::size_t>(y * 4 + x)], 0.25);  // rate 1 moves the winner onto the pattern
    EXPECT_DOUBLE_EQ(all[static_cast<std::size_t>(16 + y * 4 + x)], 0.75);
    h.stop();
    h.done();

    ASSERT_TRUE(h.set_bool("KohonenMapParameterCustomParameters", false));
    EXPECT_EQ(h.signature().find_parameter("KohonenMapParameterRadius"), nullptr);
    EXPECT_EQ(h.signature().find_parameter("KohonenMapParameterLearningRate"), nullptr);
    EXPECT_EQ(signature_changes(h), 3);
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
    BlockHarness& h = make();
    EXPECT_TRUE(h.fire("KohonenMapParameterResetISearch"));
    auto* map = matrix(h, "KohonenMapParameterMatrix");
    EXPECT_EQ(map->GetAt(0, 39), 1.0);           // weight 0 of node (0, 39)
    EXPECT_EQ(map->GetAt(3 * 40 + 0, 39), 0.58);  // weight 3
    EXPECT_EQ(map->GetAt(2 * 40 + 39, 0), 0.25);
    EXPECT_EQ(map->GetAt(20, 20), 0.0);
    EXPECT_TRUE(h.messages().empty());
    EXPECT_TRUE(h.set_int("KohonenMapParameterInputPatternLength", 5));
    EXPECT_TRUE(h.fire("KohonenMapParameterResetISearch"));
    EXPECT_EQ(h.messages(Mrv::LevelError),
              std::vector<std::string>{"KohonenMap: this operation is possible only if the input vector size is 4.\n"});
    EXPECT_EQ(map->GetAt(0, 39), 1.0);  // applied all the same
}

TEST_F(KohonenMap, MatricesAndInputsOfTheWrongShapeAreReported) {
    BlockHarness& h = small(3, 3, 2, 50);
    // A saved map of the wrong shape: reported, the random map stays.
    convert_or_throw<Mrv::IDoubleMatrix>(h.parameter("KohonenMapParameterMatrix").GetValue())->Reinit(2, 2);
    h.feed_matrix(Input, 1, 2, {0.5, 0.5});
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

// A NaN or infinite feature matches no node: no node or class is output,
// no weight moves, and the map output is published all the same.
TEST_F(KohonenMap, NotFiniteFeaturesMatchNoNode) {
    BlockHarness& h = small(3, 3, 2, 3);
    ASSERT_TRUE(h.set_bool("KohonenMapParameterUseClasses", true));
    h.feed_matrix(Input, 1, 3, {0.5, 0.5, 1});
    ASSERT_TRUE(h.begin());
    const std::vector<double> built = values(matrix(h, "KohonenMapParameterMatrix"));
    h.clear_notifications();
    const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
    for (const auto& row : {std::vector<double>{0.5, nan, 1}, std::vector<double>{inf, 0.5, 1}}) {
        ASSERT_TRUE(feed(h, row));
        EXPECT_EQ(h.output_time("KohonenMapOutputMap"), h.clock().GetCurrentTime());
    }
    EXPECT_EQ(planes(h), built);
    EXPECT_EQ(h.output_time("KohonenMapOutputPoint"), 0);
    EXPECT_EQ(h.output_time("KohonenMapOutputClass"), 0);
    EXPECT_EQ(values(matrix(h, "KohonenMapParameterClassMatrix")), std::vector<double>(45, 0.0));
    EXPECT_TRUE(h.messages().empty());
}

// A trained map saved with the block comes back exactly: the restored
// block gives the same nodes, classes and planes on every pattern.
TEST_F(KohonenMap, RestoredMapGivesIdenticalOutputs) {
    BlockHarness& h = small(5, 6, 3, 60);
    ASSERT_TRUE(h.set_bool("KohonenMapParameterUseClasses", true));
    ASSERT_TRUE(h.set_int("KohonenMapParameterClasses", 3));
    h.feed_matrix(Input, 1, 4, {0.5, 0.5, 0.5, 1});
    ASSERT_TRUE(h.begin());
    for (int i = 0; i < 80; ++i) {
        auto row = data.next(3);
        row.push_back(1 + (row[0] > 0.33) + (row[0] > 0.66));
        ASSERT_TRUE(feed(h, row));
    }
    ASSERT_EQ(h.parameter_int("KohonenMapParameterStatus"), 1);
    h.stop();
    h.done();
    auto saved = h.signature().clone();
    restored = std::make_unique<BlockHarness>(plugin.find_class("kohonenmap"), "again");
    restored->init_instance(*saved);
    EXPECT_EQ(values(matrix(*restored, "KohonenMapParameterMatrix")), values(matrix(h, "KohonenMapParameterMatrix")));

    // Both run on patterns without class information.
    for (BlockHarness* run : {&h, restored.get()}) {
        run->feed_matrix(Input, 1, 3, {0.5, 0.5, 0.5});
        ASSERT_TRUE(run->begin());
    }
    for (int i = 0; i < 30; ++i) {
        const auto row = data.next(3);
        ASSERT_TRUE(feed(h, row));
        ASSERT_TRUE(feed(*restored, row));
        EXPECT_EQ(point(h), point(*restored));
        EXPECT_EQ(h.output_int("KohonenMapOutputClass"), restored->output_int("KohonenMapOutputClass"));
        EXPECT_EQ(planes(h), planes(*restored));
    }
    EXPECT_EQ(restored->parameter_int("KohonenMapParameterStatus"), 1);
    EXPECT_TRUE(restored->messages(Mrv::LevelError).empty());
}

}  // namespace
