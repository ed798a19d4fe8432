// Standardize and Standardize2 through the dlopen'ed plug-in: the training
// set and digits on pins or read from files, the pins Mode adds, what Init
// and Reload report (the reader and the statistics are the algorithm tests').
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "host/datatypes.h"
#include "plugin/block_test.h"

namespace {

namespace fs = std::filesystem;

// The checks both blocks share.
const std::string not_a_row = "The input feature vector should be a row vector, each column representing an attribute.\n";
const std::string columns_differ =
    "The input feature vector and the input training set should have the same number of columns (attributes).\n";
const std::string feature_digits_differ =
    "The input feature vector and its vector of significant digits should have the same dimensions.\n";
const std::string digits_differ =
    "The input training set and its matrix of significant digits should have the same dimensions.\n";
const double z_of_6 = 3 / std::sqrt(14.0 / 3.0);  // 6 against 1, 2, 3

class StandardizeBlockTest : public FolderBlockTest {
protected:
    explicit StandardizeBlockTest(const std::string& class_id) : FolderBlockTest(class_id) {}

    void feed_digits(const std::string& input_id, int rows, int columns, const std::vector<int>& values) {
        auto* matrix = mrvhost::convert_or_throw<Mrv::IIntMatrix>(harness->source(input_id));
        matrix->Reinit(rows, columns);
        std::copy(values.begin(), values.end(), matrix->GetWritePointer());
        harness->touch(input_id);
    }
    // The errors of an Init that failed with `message`.
    static std::vector<std::string> init_error(const std::string& message) {
        return {message, "Block std: error in method Init\n"};
    }
};

class Standardize : public StandardizeBlockTest {
protected:
    Standardize() : StandardizeBlockTest("Standardize") {}

    // Mode on or off, the inputs fed (digits only with Mode on); Init's result.
    bool prepare(const std::vector<double>& features, int training_rows, const std::vector<double>& training,
                 const std::vector<int>& feature_digits = {}, int digit_rows = 0,
                 const std::vector<int>& training_digits = {}) {
        make("std");
        const bool mode = !feature_digits.empty();
        EXPECT_TRUE(harness->set_bool("Mode", mode));
        const int columns = static_cast<int>(features.size());
        harness->feed_matrix("InFeatureVector", 1, columns, features);
        harness->feed_matrix("TrainingSet", training_rows, static_cast<int>(training.size()) / training_rows, training);
        if (mode) {
            feed_digits("SdFeatureVector", 1, static_cast<int>(feature_digits.size()), feature_digits);
            feed_digits("SdTrainingSet", digit_rows, static_cast<int>(training_digits.size()) / digit_rows,
                        training_digits);
        }
        return harness->begin();
    }
    std::vector<double> output() { return harness->output_values("OutFeatureVector"); }
};

TEST_F(Standardize, ModeAddsAndRemovesTheDigitInputs) {
    make("std");
    ASSERT_TRUE(harness->set_bool("Mode", true));
    EXPECT_EQ(input_ids(), (std::vector<std::string>{"InFeatureVector", "TrainingSet", "SdFeatureVector", "SdTrainingSet"}));
    EXPECT_EQ(harness->status().driving_inputs().size(), 2u);  // the digits drive nothing
    EXPECT_EQ(signature_changes(), 1);
    mrvhost::Ref<mrvhost::Signature> saved = harness->signature().clone();
    ASSERT_TRUE(harness->set_bool("Mode", false));
    EXPECT_EQ(input_ids(), (std::vector<std::string>{"InFeatureVector", "TrainingSet"}));
    EXPECT_EQ(signature_changes(), 2);
    restore(*saved, nullptr, "std");  // a saved instance keeps its digit inputs
    EXPECT_EQ(input_ids().size(), 4u);
    EXPECT_TRUE(harness->messages().empty());
}

TEST_F(Standardize, ZScoresAgainstTheTrainingSetOfTheTick) {
    ASSERT_TRUE(prepare({6, 10}, 3, {1, 10, 2, 10, 3, 10}));
    ASSERT_TRUE(harness->tick());
    EXPECT_DOUBLE_EQ(output()[0], z_of_6);
    EXPECT_EQ(harness->output_time("OutFeatureVector"), harness->clock().GetCurrentTime());
    // A new training set is used from the tick it arrives.
    harness->feed_matrix("TrainingSet", 3, 2, {5, 10, 6, 10, 7, 10});
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(output()[0], 0.0);
    EXPECT_TRUE(harness->messages().empty());
    // Shapes are those of Init: matrices reshaped while running are not read
    // past their end, and the output keeps its value.
    harness->feed_matrix("TrainingSet", 1, 1, {7});
    ASSERT_TRUE(harness->tick());
    harness->feed_matrix("InFeatureVector", 1, 1, {7});
    harness->feed_matrix("TrainingSet", 3, 2, {1, 10, 2, 10, 3, 10});
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(output()[0], 0.0);
    EXPECT_EQ(harness->messages(Mrv::LevelWarning),
              std::vector<std::string>{"The input shapes changed after Init; the output is not updated.\n"});
}

TEST_F(Standardize, RoundsToTheLargerNumberOfSignificantDigits) {
    ASSERT_TRUE(prepare({6, 6}, 3, {1, 1, 2, 2, 3, 3}, {1, 2}, 3, {1, 1, 3, 1, 2, 1}));
    ASSERT_TRUE(harness->tick());
    EXPECT_DOUBLE_EQ(output()[0], 1.39);
    EXPECT_DOUBLE_EQ(output()[1], 1.4);
    // New training digits alone: the training set's data query answers
    // false, so the column digits stay; they are taken with the next
    // training set.
    feed_digits("SdTrainingSet", 3, 2, {1, 1, 1, 1, 1, 1});
    harness->touch("InFeatureVector");
    ASSERT_TRUE(harness->tick());
    EXPECT_DOUBLE_EQ(output()[0], 1.39);
    harness->touch("TrainingSet");
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(output()[0], 2.0);
}

TEST_F(Standardize, InitRefusesMatricesOfTheWrongShape) {
    const struct {
        std::vector<double> features;
        std::vector<int> feature_digits;
        int digit_rows;
        std::string message;
    } cases[] = {{{1, 2, 3}, {}, 0, columns_differ},
                 {{1, 2}, {1, 1, 1}, 3, feature_digits_differ},
                 {{1, 2}, {1, 1}, 2, digits_differ}};
    for (const auto& c : cases) {
        EXPECT_FALSE(prepare(c.features, 3, {1, 2, 3, 4, 5, 6}, c.feature_digits, c.digit_rows,
                             std::vector<int>(2 * c.digit_rows, 1)));
        EXPECT_EQ(harness->messages(Mrv::LevelError), init_error(c.message));
    }
    make("std");
    harness->feed_matrix("InFeatureVector", 2, 2, {1, 2, 3, 4});
    harness->feed_matrix("TrainingSet", 3, 2, {1, 2, 3, 4, 5, 6});
    EXPECT_FALSE(harness->init());
    EXPECT_EQ(harness->messages(Mrv::LevelError), init_error(not_a_row));
}

const std::string training_text = "# training set\n3x2\n1 10\n2 10\n3 10\n";
// -1, 2, 5, 2: mean 2, variance 6; with 6 the mean is 2.8 and the variance
// (4 * 3.2 + 3 * 6) / 4 = 7.7.
const std::string four_rows = "-1 10\n2 10\n5 10\n2 10\n";
const double z_of_6_against_four_rows = (6 - 2.8) / std::sqrt(7.7);
std::vector<std::string> unhandled_in_init(const std::string& message) {
    return {"Block std: unhandled exception of type Mrv::IException in method Init; exception message is " + message +
            "\n"};
}

class Standardize2 : public StandardizeBlockTest {
protected:
    Standardize2() : StandardizeBlockTest("Standardize2") {}

    // A block with its files set in design mode and its inputs fed; Init's
    // result (Check and Start follow a successful Init).
    bool prepare(const std::vector<double>& features, const std::string& training_file,
                 const std::string& digits_file = "", const std::vector<int>& feature_digits = {}) {
        make("std");
        const bool mode = !digits_file.empty();
        EXPECT_TRUE(harness->set_bool("Mode", mode));
        EXPECT_TRUE(harness->set_string("TrainingSetFile", training_file));
        harness->feed_matrix("InFeatureVector", 1, static_cast<int>(features.size()), features);
        if (mode) {
            EXPECT_TRUE(harness->set_string("SdTrainingSetFile", digits_file));
            feed_digits("SdFeatureVector", 1, static_cast<int>(feature_digits.size()), feature_digits);
        }
        return harness->begin();
    }
    // Fires Reload while running, then ticks with the feature vector 6, 10.
    std::vector<double> reload_and_tick() {
        harness->clear_notifications();
        harness->fire("Reload");
        harness->feed_matrix("InFeatureVector", 1, 2, {6, 10});
        EXPECT_TRUE(harness->tick());
        return harness->output_values("OutFeatureVector");
    }
};

TEST_F(Standardize2, ModeAddsAndRemovesTheDigitInputAndFile) {
    make("std");
    ASSERT_TRUE(harness->set_bool("Mode", true));
    EXPECT_EQ(input_ids(), (std::vector<std::string>{"InFeatureVector", "SdFeatureVector"}));
    EXPECT_NE(harness->signature().find_parameter("SdTrainingSetFile"), nullptr);
    EXPECT_EQ(signature_changes(), 1);
    ASSERT_TRUE(harness->set_bool("Mode", false));
    EXPECT_EQ(input_ids(), std::vector<std::string>{"InFeatureVector"});
    EXPECT_EQ(harness->signature().find_parameter("SdTrainingSetFile"), nullptr);
    EXPECT_EQ(signature_changes(), 2);
}

// The shape checks both blocks share are Standardize's; here, what reading
// the files reports.
TEST_F(Standardize2, InitReportsEveryProblemOfTheFiles) {
    const std::string training = write("training.txt", training_text), missing = path("missing.txt");
    const struct {
        const char* what;
        std::string training, digits;
        int level;
        std::vector<std::string> messages;
    } cases[] = {
        {"missing training file", missing, "", Mrv::LevelWarning, {"Cannot open file " + missing + "\n"}},
        // Refused before reading, with the reason.
        {"training file is a folder", folder.string(), "", Mrv::LevelWarning,
         {"Cannot open file " + folder.string() + "\n", "The file " + folder.string() + " is not read: it is a folder.\n"}},
        {"empty training file", write("empty.txt", ""), "", Mrv::LevelWarning,
         {"Cannot detect the size of matrix loaded from file " + path("empty.txt") + "\n"}},
        {"decimal commas", write("commas.txt", "1,5 2,5\n3,5 4,5\n"), "", Mrv::LevelError,
         init_error("Error in reading training set from file.\n")},
        {"missing digits file", training, missing, Mrv::LevelWarning, {"Cannot open file " + missing + "\n"}},
        {"digits that are not whole", training, write("halves.txt", "1 1.5\n1 1\n1 1\n"), Mrv::LevelError,
         init_error("Error in reading significant digits of training set from file.\n")},
    };
    for (const auto& failing : cases) {
        SCOPED_TRACE(failing.what);
        EXPECT_FALSE(prepare({1, 2}, failing.training, failing.digits, {1, 1}));
        if (failing.level == Mrv::LevelError) {
            EXPECT_EQ(harness->messages(Mrv::LevelError), failing.messages);
        } else {
            EXPECT_EQ(harness->messages(Mrv::LevelWarning), failing.messages);
            EXPECT_EQ(harness->messages(Mrv::LevelError), std::vector<std::string>{"Block std: error in method Init\n"});
        }
    }
    // The shared checks hold the input against what the file holds, so nothing is read past it.
    EXPECT_FALSE(prepare({1, 2, 3}, training));
    EXPECT_EQ(harness->messages(Mrv::LevelError), init_error(columns_differ));
}

TEST_F(Standardize2, ReaderErrorsFailInitAsUnhandledExceptions) {
    EXPECT_FALSE(prepare({1, 2}, write("utf16.txt", std::string("\xFF\xFE" "1\x00 \x00" "2\x00", 8))));
    EXPECT_EQ(harness->messages(Mrv::LevelFatal), unhandled_in_init("UTF-16 (LE) encoded files are not supported"));
    EXPECT_FALSE(prepare({1, 2}, write("short.txt", "3x2\n1 2\n")));
    EXPECT_EQ(harness->messages(Mrv::LevelFatal), unhandled_in_init("ILogicException"));
}

// The training file is read at Init, and again by Reload, which keeps the
// old training set on every failure.
TEST_F(Standardize2, ReloadKeepsTheOldTrainingSetOnEveryFailure) {
    const std::string training = write("training.txt", training_text);
    ASSERT_TRUE(prepare({6, 10}, training));
    harness->set_running(true);
    ASSERT_TRUE(harness->tick());
    const auto before = harness->output_values("OutFeatureVector");
    EXPECT_DOUBLE_EQ(before.at(0), z_of_6);
    EXPECT_EQ(harness->output_time("OutFeatureVector"), harness->clock().GetCurrentTime());

    // The file replaced by a broken one (or removed, "missing") before a Reload.
    const struct {
        std::string bytes;
        int level;
        std::string message;
    } broken[] = {
        {"1 2 3\n4 5 6\n", Mrv::LevelError,
         "The input feature vector and the input training set should have the same number of columns (attributes). "
         "The old values will be kept.\n"},
        {"1,5 2,5\n3,5 4,5\n", Mrv::LevelError, "Error in reading new training set from file. The old values will be kept.\n"},
        {"", Mrv::LevelWarning, "Cannot detect the size of matrix loaded from file. The old values will be kept.\n"},
        {"missing", Mrv::LevelWarning, "Cannot open file " + training + "\n"},
    };
    for (const auto& file : broken) {
        SCOPED_TRACE(file.message);
        if (file.bytes == "missing") fs::remove(training);
        else write("training.txt", file.bytes);
        EXPECT_EQ(reload_and_tick(), before);
        EXPECT_EQ(harness->messages(file.level), std::vector<std::string>{file.message});
    }

    // A valid file of another row count is used from the next tick.
    write("training.txt", four_rows);
    EXPECT_DOUBLE_EQ(reload_and_tick()[0], z_of_6_against_four_rows);
    EXPECT_TRUE(harness->messages().empty());
    // The next run reads the file again.
    harness->stop();
    harness->done();
    write("training.txt", training_text);
    ASSERT_TRUE(harness->begin());
    harness->touch("InFeatureVector");
    ASSERT_TRUE(harness->tick());
    EXPECT_DOUBLE_EQ(harness->output_values("OutFeatureVector")[0], z_of_6);
}

TEST_F(Standardize2, ReloadWithDigitsKeepsTheOldDigitsOnEveryFailure) {
    const std::string digits = write("digits.txt", "1 1\n3 1\n2 1\n");
    ASSERT_TRUE(prepare({6, 10}, write("training.txt", "1 10\n2 10\n3 10\n"), digits, {1, 2}));
    harness->set_running(true);
    ASSERT_TRUE(harness->tick());
    EXPECT_DOUBLE_EQ(harness->output_values("OutFeatureVector")[0], 1.39);

    // Four training rows against the three rows of the unchanged digits.
    write("training.txt", four_rows);
    const auto reloaded = reload_and_tick();
    EXPECT_EQ(harness->messages(Mrv::LevelError), std::vector<std::string>{digits_differ});
    // The new training set with the old digits, 3 significant digits:
    // 3.2 / R(sqrt(7.7), 3) = 3.2 / 2.77 = 1.155... -> 1.16.
    EXPECT_DOUBLE_EQ(reloaded[0], 1.16);

    write("digits.txt", "1 1\n1 1.5\n1 1\n1 1\n");
    EXPECT_EQ(reload_and_tick(), reloaded);
    EXPECT_EQ(harness->messages(Mrv::LevelError),
              std::vector<std::string>{"Error in reading new significant digits from file. The old values will be kept.\n"});

    // Digits that fit the new training set, one significant digit:
    // (6 - R(2.8, 1)) / R(2.77..., 1) = 3 / 3.
    write("digits.txt", "1 1\n1 1\n1 1\n1 1\n");
    EXPECT_EQ(reload_and_tick()[0], 1.0);
    EXPECT_TRUE(harness->messages().empty());
}

// Both names go through Init's opening (whose refusals are shown above).
TEST_F(Standardize2, FileNamesAreTriedOnlyWhileRunning) {
    make("std");
    ASSERT_TRUE(harness->set_bool("Mode", true));
    EXPECT_TRUE(harness->set_string("TrainingSetFile", path("missing.txt")));  // design mode: no check
    const std::string training = write("training.txt", training_text);
    harness->set_running(true);
    for (const std::string id : {"TrainingSetFile", "SdTrainingSetFile"}) {
        SCOPED_TRACE(id);
        harness->clear_notifications();
        const std::string missing = path("missing-" + id);
        EXPECT_TRUE(harness->set_string(id, training));
        EXPECT_FALSE(harness->set_string(id, missing));
        EXPECT_EQ(parameter_string(id), training);
        EXPECT_EQ(harness->messages(Mrv::LevelWarning), std::vector<std::string>{"Cannot open file " + missing + "\n"});
    }
}

}  // namespace
