// Standardize through the dlopen'ed plug-in and the substitute host.
#include "plugin/standardize_fixture.h"

#include <cmath>

namespace {

class Standardize : public StandardizeBlockTest {
protected:
    // Training column 1, 2, 3 (mean 2, sample variance 1) beside a
    // constant column 10; Init..Start; Init's result.
    bool prepare(const std::vector<double>& features) {
        make("Standardize");
        harness->feed_matrix("InFeatureVector", 1, 2, features);
        harness->feed_matrix("TrainingSet", 3, 2, {1, 10, 2, 10, 3, 10});
        return harness->begin();
    }
};

const double z_of_6 = 3 / std::sqrt(14.0 / 3.0);  // 6 against 1, 2, 3

TEST_F(Standardize, DeclaresItsPinsAndParameters) {
    auto& signature = make("Standardize").signature();
    ASSERT_EQ(signature.GetInputs()->GetCount(), 2);
    EXPECT_STREQ(signature.GetInputs()->GetItem(0)->GetId(), "InFeatureVector");
    EXPECT_STREQ(signature.GetInputs()->GetItem(0)->GetName(), "Input feature vector");
    EXPECT_STREQ(signature.GetInputs()->GetItem(0)->GetDescription(),
                 "The feature vector to be standardized. It should be a row vector, each column representing an "
                 "attribute.");
    EXPECT_STREQ(signature.GetInputs()->GetItem(1)->GetId(), "TrainingSet");
    EXPECT_STREQ(signature.GetInputs()->GetItem(1)->GetName(), "Input training set");
    EXPECT_STREQ(signature.GetInputs()->GetItem(1)->GetDescription(),
                 "The training set on which mean and standard deviation are computed. Each column represents an "
                 "attribute, each row represents an instance.");
    ASSERT_EQ(signature.GetOutputs()->GetCount(), 1);
    EXPECT_STREQ(signature.GetOutputs()->GetItem(0)->GetId(), "OutFeatureVector");
    EXPECT_STREQ(signature.GetOutputs()->GetItem(0)->GetName(), "Output feature vector");
    EXPECT_STREQ(signature.GetOutputs()->GetItem(0)->GetDescription(), "The standardized feature vector");
    ASSERT_EQ(parameter_ids(), std::vector<std::string>{"Mode"});
    auto& mode = harness->parameter("Mode");
    EXPECT_STREQ(mode.GetName(), "Round results to significant digits");
    EXPECT_STREQ(mode.GetDescription(), "Sets whether the block should take into account significant digits.");
    EXPECT_STREQ(mode.GetDatatypeClassId(), "bool");
    EXPECT_FALSE(harness->parameter_bool("Mode"));
    EXPECT_FALSE(mode.GetAttribute(Mrv::AttrRunChange));
    EXPECT_TRUE(mode.GetAttribute(Mrv::AttrDesignChange));
    const auto& driving = harness->status().driving_inputs();
    ASSERT_EQ(driving.size(), 2u);
    EXPECT_EQ(driving[0], (std::pair<std::string, Mrv::int32>{"InFeatureVector", 1}));
    EXPECT_EQ(driving[1], (std::pair<std::string, Mrv::int32>{"TrainingSet", 1}));
}

TEST_F(Standardize, ModeAddsAndRemovesTheDigitInputs) {
    make("Standardize");
    ASSERT_TRUE(harness->set_bool("Mode", true));
    EXPECT_EQ(input_ids(), (std::vector<std::string>{"InFeatureVector", "TrainingSet", "SdFeatureVector", "SdTrainingSet"}));
    auto& inputs = *harness->signature().GetInputs();
    EXPECT_STREQ(inputs.GetItem(2)->GetName(), "Significant digits of the feature vector");
    EXPECT_STREQ(inputs.GetItem(2)->GetDescription(),
                 "A vector as big as the feature vectir, whose items are the nunber of significant digits of each "
                 "item of the feature vector.");
    EXPECT_STREQ(inputs.GetItem(2)->GetDatatypeClassId(), "int-matrix");
    EXPECT_STREQ(inputs.GetItem(3)->GetName(), "Significant digits of the training set");
    EXPECT_STREQ(inputs.GetItem(3)->GetDescription(),
                 "A matrix as big as the training set, whose items are the nunber of significant digits of each item "
                 "of the training set.");
    EXPECT_EQ(harness->status().driving_inputs().size(), 2u);  // the digits drive nothing
    EXPECT_EQ(signature_changes(), 1);
    ASSERT_TRUE(harness->set_bool("Mode", false));
    EXPECT_EQ(input_ids(), (std::vector<std::string>{"InFeatureVector", "TrainingSet"}));
    EXPECT_EQ(signature_changes(), 2);
}

TEST_F(Standardize, ZScoresAgainstTheTrainingSetWithTheInput) {
    ASSERT_TRUE(prepare({6, 10}));
    ASSERT_TRUE(harness->tick());
    const auto out = harness->output_values("OutFeatureVector");
    ASSERT_EQ(out.size(), 2u);
    EXPECT_DOUBLE_EQ(out[0], z_of_6);
    EXPECT_EQ(out[1], 0.0);  // a constant column equal to the input
    EXPECT_EQ(harness->output_matrix("OutFeatureVector")->GetHeight(), 1);
    EXPECT_EQ(harness->output_time("OutFeatureVector"), harness->clock().GetCurrentTime());

    harness->feed_matrix("InFeatureVector", 1, 2, {2, 10});
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->output_values("OutFeatureVector"), (std::vector<double>{0, 0}));

    // A new training set is used from the tick it arrives.
    harness->feed_matrix("TrainingSet", 3, 2, {-1, 10, 2, 10, 5, 10});  // mean 2, variance 9
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->output_values("OutFeatureVector")[0], 0.0);
    harness->feed_matrix("InFeatureVector", 1, 2, {6, 10});
    ASSERT_TRUE(harness->tick());
    EXPECT_DOUBLE_EQ(harness->output_values("OutFeatureVector")[0], 3 / std::sqrt((4.0 * 3.0 + 2 * 9.0) / 3.0));
    EXPECT_TRUE(harness->messages().empty());
}

TEST_F(Standardize, RoundsToTheLargerNumberOfSignificantDigits) {
    make("Standardize");
    ASSERT_TRUE(harness->set_bool("Mode", true));
    harness->feed_matrix("InFeatureVector", 1, 2, {6, 6});
    harness->feed_matrix("TrainingSet", 3, 2, {1, 1, 2, 2, 3, 3});
    feed_digits("SdFeatureVector", 1, 2, {1, 2});
    feed_digits("SdTrainingSet", 3, 2, {1, 1, 3, 1, 2, 1});
    ASSERT_TRUE(harness->begin());
    ASSERT_TRUE(harness->tick());
    const auto out = harness->output_values("OutFeatureVector");
    EXPECT_DOUBLE_EQ(out[0], 1.39);  // 3 digits: 3 / 2.16
    EXPECT_DOUBLE_EQ(out[1], 1.4);   // 2 digits: 3 / 2.2

    // New training digits alone: the training set's data query answers
    // false, so the column digits stay; they are taken with the next
    // training set.
    feed_digits("SdTrainingSet", 3, 2, {1, 1, 1, 1, 1, 1});
    harness->feed_matrix("InFeatureVector", 1, 2, {6, 6});
    ASSERT_TRUE(harness->tick());
    EXPECT_DOUBLE_EQ(harness->output_values("OutFeatureVector")[0], 1.39);
    harness->touch("TrainingSet");
    ASSERT_TRUE(harness->tick());
    const auto renewed = harness->output_values("OutFeatureVector");
    EXPECT_EQ(renewed[0], 2.0);  // 1 digit: 3 / 2
    EXPECT_DOUBLE_EQ(renewed[1], 1.4);
}

TEST_F(Standardize, OneTrainingRowGivesNotANumber) {
    for (bool rounding : {false, true}) {
        SCOPED_TRACE(rounding ? "rounding" : "not rounding");
        make("Standardize");
        ASSERT_TRUE(harness->set_bool("Mode", rounding));
        harness->feed_matrix("InFeatureVector", 1, 2, {6, 1});
        harness->feed_matrix("TrainingSet", 1, 2, {1, 1});
        if (rounding) {
            feed_digits("SdFeatureVector", 1, 2, {2, 2});
            feed_digits("SdTrainingSet", 1, 2, {2, 2});
        }
        ASSERT_TRUE(harness->begin());
        ASSERT_TRUE(harness->tick());
        for (double value : harness->output_values("OutFeatureVector")) EXPECT_TRUE(std::isnan(value));
    }
}

TEST_F(Standardize, InitRefusesMatricesOfTheWrongShape) {
    make("Standardize");
    harness->feed_matrix("InFeatureVector", 2, 2, {1, 2, 3, 4});
    harness->feed_matrix("TrainingSet", 3, 2, {1, 2, 3, 4, 5, 6});
    EXPECT_FALSE(harness->init());
    EXPECT_EQ(harness->messages(Mrv::LevelError),
              init_error("The input feature vector should be a row vector, each column representing an attribute.\n"));

    make("Standardize");
    harness->feed_matrix("InFeatureVector", 1, 3, {1, 2, 3});
    harness->feed_matrix("TrainingSet", 3, 2, {1, 2, 3, 4, 5, 6});
    EXPECT_FALSE(harness->init());
    EXPECT_EQ(harness->messages(Mrv::LevelError),
              init_error("The input feature vector and the input training set should have the same number of "
                         "columns (attributes).\n"));

    make("Standardize");
    ASSERT_TRUE(harness->set_bool("Mode", true));
    harness->feed_matrix("InFeatureVector", 1, 2, {1, 2});
    harness->feed_matrix("TrainingSet", 3, 2, {1, 2, 3, 4, 5, 6});
    feed_digits("SdFeatureVector", 1, 3, {1, 1, 1});
    feed_digits("SdTrainingSet", 3, 2, {1, 1, 1, 1, 1, 1});
    EXPECT_FALSE(harness->init());
    EXPECT_EQ(harness->messages(Mrv::LevelError),
              init_error("The input feature vector and its vector of significant digits should have the same "
                         "dimensions.\n"));

    feed_digits("SdFeatureVector", 1, 2, {1, 1});
    feed_digits("SdTrainingSet", 2, 2, {1, 1, 1, 1});
    harness->clear_notifications();
    EXPECT_FALSE(harness->init());
    EXPECT_EQ(harness->messages(Mrv::LevelError),
              init_error("The input training set and its matrix of significant digits should have the same "
                         "dimensions.\n"));
}

TEST_F(Standardize, MatricesReshapedWhileRunningAreNotReadPastTheirEnd) {
    ASSERT_TRUE(prepare({6, 10}));
    ASSERT_TRUE(harness->tick());
    const auto before = harness->output_values("OutFeatureVector");
    harness->feed_matrix("TrainingSet", 1, 1, {7});
    ASSERT_TRUE(harness->tick());
    harness->feed_matrix("InFeatureVector", 1, 1, {7});
    harness->feed_matrix("TrainingSet", 3, 2, {1, 10, 2, 10, 3, 10});
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->output_values("OutFeatureVector"), before);
    EXPECT_EQ(harness->messages(Mrv::LevelWarning),
              std::vector<std::string>{"The input shapes changed after Init; the output is not updated.\n"});
}

TEST_F(Standardize, SavedInstanceWithModeOnKeepsItsDigitInputs) {
    make("Standardize");
    ASSERT_TRUE(harness->set_bool("Mode", true));
    mrvhost::Ref<mrvhost::Signature> saved = harness->signature().clone();
    mrvhost::BlockHarness restored(plugin.find_class("Standardize"), "again");
    restored.init_instance(*saved);
    EXPECT_TRUE(restored.parameter_bool("Mode"));
    EXPECT_EQ(restored.signature().GetInputs()->GetCount(), 4);
    EXPECT_TRUE(restored.messages().empty());
}

// Both classes are listed, Standardize2 first, under one display name.
TEST_F(Standardize, SharesItsRegistrationTextsWithStandardize2) {
    auto* classes = plugin.signature()->GetBlockClasses();
    std::vector<std::string> ids;
    for (Mrv::int32 i = 0; i < classes->GetCount(); ++i) ids.push_back(classes->GetItem(i)->GetClassId());
    const auto second = std::find(ids.begin(), ids.end(), "Standardize2");
    ASSERT_NE(second, ids.end());
    ASSERT_NE(second + 1, ids.end());
    EXPECT_EQ(*(second + 1), "Standardize");
    for (const char* id : {"Standardize", "Standardize2"}) {
        SCOPED_TRACE(id);
        for (Mrv::uint32 language : {1033u, 1040u}) {
            auto* info = plugin.find_class(id, language);
            EXPECT_STREQ(info->GetName(), "Standardize");
            EXPECT_STREQ(info->GetDescription(),
                         "This block standardizes the input feature vector.It computes mean and standard deviation of "
                         "each attribute in the provided training setand processes each item of the input feature "
                         "vector by subtracting the corresponding computed meanand by dividing by the corresponding "
                         "computed standard deviation.");
            EXPECT_STREQ(info->GetCatalogPath(), "MachineLearning.Tools");
            EXPECT_EQ(info->GetBitmapId(), 260);
            ASSERT_EQ(info->GetAuthorCount(), 1);
            EXPECT_STREQ(info->GetAuthor(0), "halvard");
            EXPECT_STREQ(info->GetLicence(0), "base_licence");
            EXPECT_STREQ(info->GetCompany(0), "sonara");
        }
    }
}

}  // namespace
