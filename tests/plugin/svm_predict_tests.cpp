// SVM Predict through the dlopen'ed plug-in, on model files that libsvm
// itself trains and writes: predictions as libsvm gives them, the
// probability output, refreshes and what they report.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>

#include <libsvm/svm.h>

#include "plugin/block_test.h"

namespace {

namespace fs = std::filesystem;
using mrvhost::BlockHarness;

// Points on a line, labelled by segment: `classes` classes of 10 points.
struct model_recipe {
    int svm_type = C_SVC;
    int classes = 3;
    bool probability = true;
};

// Trained by libsvm's own svm-train, in a process of its own: this process
// leaves libsvm's output stream to the catalog.
void write_model(const fs::path& path, const model_recipe& recipe) {
    const fs::path data = path.string() + ".data";
    {
        std::ofstream rows(data);
        for (int i = 0; i < 10 * recipe.classes; ++i) rows << i / 10 << " 1:" << i / 10.0 << " 2:" << 1.0 - i / 20.0 << "\n";
    }
    const std::string command = std::string(SVM_TRAIN) + " -q -s " + std::to_string(recipe.svm_type) +
                                " -t 2 -g 1 -c 10 -b " + (recipe.probability ? "1 " : "0 ") + data.string() + " " +
                                path.string();
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// What libsvm answers for a row, as the reference.
struct reference {
    explicit reference(const fs::path& path) : model(svm_load_model(path.c_str())) {}
    ~reference() { svm_free_and_destroy_model(&model); }
    std::vector<svm_node> nodes(const std::vector<double>& row) {
        std::vector<svm_node> made;
        for (std::size_t j = 0; j < row.size(); ++j)
            if (row[j] != 0.0) made.push_back({static_cast<int>(j) + 1, row[j]});
        made.push_back({-1, 0});
        return made;
    }
    double predict(const std::vector<double>& row) { return svm_predict(model, nodes(row).data()); }
    std::vector<double> probabilities(const std::vector<double>& row) {
        std::vector<double> estimates(static_cast<std::size_t>(svm_get_nr_class(model)));
        svm_predict_probability(model, nodes(row).data(), estimates.data());
        return estimates;
    }
    svm_model* model;
};

class SVMPredict : public FolderBlockTest {
protected:
    SVMPredict() : FolderBlockTest("SVM") {}

    fs::path model(const std::string& name, const model_recipe& recipe = {}) {
        write_model(folder / name, recipe);
        return folder / name;
    }
    // Init..Start on `file` with the rows given; Init's result.
    bool prepare(const fs::path& file, bool probabilities) {
        make("predict");
        EXPECT_TRUE(harness->set_string("ModelFileName", file.string()));
        EXPECT_TRUE(harness->set_bool("Probabilities", probabilities));
        harness->feed_matrix("InputMatrix", 4, 2, rows);
        const bool started = harness->begin();
        harness->set_running(true);
        return started;
    }

    const std::vector<double> rows{0.15, 0.9, 1.5, 0.3, 0, 0, 2.8, 0.2};  // 4 x 2, one row all zero
};

TEST_F(SVMPredict, PredictsEveryRowAndItsProbabilitiesAsLibsvmDoes) {
    const fs::path file = model("three.txt");
    ASSERT_TRUE(prepare(file, true));
    ASSERT_TRUE(harness->tick());
    reference libsvm(file);
    const auto labels = harness->output_values("OutputVector");
    const auto probabilities = harness->output_values("ProbVector");
    ASSERT_EQ(labels.size(), 4u);
    ASSERT_EQ(probabilities.size(), 12u);
    EXPECT_EQ(harness->output_matrix("ProbVector")->GetWidth(), 3);
    for (std::size_t r = 0; r < 4; ++r) {
        // The likeliest class, whose label is its index: libsvm keeps 0, 1, 2 in that order.
        const auto expected = libsvm.probabilities({rows[2 * r], rows[2 * r + 1]});
        EXPECT_EQ(std::vector<double>(&probabilities[3 * r], &probabilities[3 * r + 3]), expected) << r;
        EXPECT_EQ(labels[r], std::max_element(expected.begin(), expected.end()) - expected.begin()) << r;
    }
    for (const char* id : {"OutputVector", "ProbVector"})
        EXPECT_EQ(harness->output_time(id), harness->clock().GetCurrentTime()) << id;
    EXPECT_TRUE(harness->messages().empty());
}

TEST_F(SVMPredict, ModelsThatCannotGiveProbabilitiesStillPredict) {
    ASSERT_TRUE(prepare(model("plain.txt", {C_SVC, 3, false}), true));
    EXPECT_EQ(harness->messages(Mrv::LevelError),
              std::vector<std::string>{"CSVMBlock::Init -- Cannot return probability values. The loaded model does not "
                                       "contain probability information.\n"});
    ASSERT_TRUE(harness->tick());
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->messages(Mrv::LevelError).size(), 1u);
    EXPECT_EQ(harness->output_values("OutputVector").size(), 4u);
    EXPECT_EQ(harness->output_matrix("ProbVector")->GetWidth(), 1);
    EXPECT_EQ(harness->output_time("ProbVector"), 0u);  // never written
}

TEST_F(SVMPredict, MissingOrBrokenModelFileFailsInitWithItsName) {
    const fs::path missing = folder / "missing.txt";
    EXPECT_FALSE(prepare(missing, false));
    EXPECT_EQ(harness->messages(Mrv::LevelError),
              (std::vector<std::string>{"CSVMBlock::Init -- Cannot open model file: " + missing.string() + ".\n",
                                        "Block predict: error in method Init\n"}));
    // A model libsvm would read past its arrays (the checks are the
    // algorithm tests') and names that are no regular file.
    const fs::path cut = model("cut.txt");
    fs::resize_file(cut, fs::file_size(cut) - 40);
    const fs::path fifo = folder / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<fs::path, std::string> broken[] = {
        {cut, "the file holds"}, {fifo, "it is a FIFO"}};
    for (const auto& [file, reason] : broken) {
        EXPECT_FALSE(prepare(file, false));
        const auto errors = harness->messages(Mrv::LevelError);
        ASSERT_EQ(errors.size(), 3u);
        EXPECT_EQ(errors[0], "CSVMBlock::Init -- Cannot open model file: " + file.string() + ".\n");
        EXPECT_EQ(errors[1].rfind("CSVMBlock::Init -- The model file " + file.string() + " cannot be used: " + reason, 0),
                  0u)
            << errors[1];
    }
}

TEST_F(SVMPredict, RefreshReplacesTheModelOrKeepsTheOldOne) {
    const fs::path first = model("first.txt", {C_SVC, 2, false});
    ASSERT_TRUE(prepare(first, false));
    ASSERT_TRUE(harness->tick());
    const auto before = harness->output_values("OutputVector");

    const std::string misspelt = (folder / "frist.txt").string();
    ASSERT_TRUE(harness->set_string("ModelFileName", misspelt));
    harness->clear_notifications();
    ASSERT_TRUE(harness->fire("RefreshModel"));
    EXPECT_EQ(harness->messages(Mrv::LevelError),
              std::vector<std::string>{"CSVMBlock::OnChangedParameter -- Cannot open model file: " + misspelt +
                                       ". The old model will be kept.\n"});
    harness->touch("InputMatrix");
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->output_values("OutputVector"), before);

    const fs::path second = model("second.txt", {C_SVC, 3, false});
    ASSERT_TRUE(harness->set_string("ModelFileName", second.string()));
    harness->clear_notifications();
    ASSERT_TRUE(harness->fire("RefreshModel"));
    EXPECT_EQ(harness->messages(Mrv::LevelMessage),
              std::vector<std::string>{"CSVMBlock::OnChangedParameter -- SVM model updated.\n"});
    harness->touch("InputMatrix");
    ASSERT_TRUE(harness->tick());
    reference libsvm(second);
    EXPECT_EQ(harness->output_values("OutputVector")[3], libsvm.predict({2.8, 0.2}));
}

TEST_F(SVMPredict, RefreshWithAnotherClassCountStopsTheProbabilities) {
    ASSERT_TRUE(prepare(model("three.txt"), true));
    ASSERT_TRUE(harness->tick());
    const auto stamped = harness->output_time("ProbVector");

    // Four classes where Init made three columns.
    ASSERT_TRUE(harness->set_string("ModelFileName", model("four.txt", {C_SVC, 4, true}).string()));
    harness->clear_notifications();
    ASSERT_TRUE(harness->fire("RefreshModel"));
    EXPECT_EQ(harness->messages(Mrv::LevelError),
              std::vector<std::string>{"CSVMBlock::OnChangedParameter -- The new model gives 4 class probabilities "
                                       "where the output has 3 columns. Probabilities will not be written until the "
                                       "next Init.\n"});
    EXPECT_EQ(harness->messages(Mrv::LevelMessage),
              std::vector<std::string>{"CSVMBlock::OnChangedParameter -- SVM model updated.\n"});
    harness->touch("InputMatrix");
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->output_time("ProbVector"), stamped);
    EXPECT_EQ(harness->output_time("OutputVector"), harness->clock().GetCurrentTime());
}

// ProbVector exists exactly while Probabilities is true, in a saved
// instance too.
TEST_F(SVMPredict, ProbabilityOutputFollowsItsSwitch) {
    BlockHarness& h = make("predict");
    ASSERT_TRUE(h.set_string("ModelFileName", model("three.txt").string()));
    ASSERT_TRUE(h.set_bool("Probabilities", true));
    EXPECT_NE(h.signature().find_output("ProbVector"), nullptr);
    EXPECT_EQ(signature_changes(), 1);
    mrvhost::Ref<mrvhost::Signature> saved = h.signature().clone();
    ASSERT_TRUE(h.set_bool("Probabilities", false));
    EXPECT_EQ(h.signature().find_output("ProbVector"), nullptr);
    restore(*saved, nullptr, "again");
    harness->feed_matrix("InputMatrix", 4, 2, rows);
    ASSERT_TRUE(harness->begin());
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(harness->output_matrix("ProbVector")->GetWidth(), 3);
    EXPECT_TRUE(harness->messages().empty());
}

}  // namespace
