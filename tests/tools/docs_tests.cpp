// The documentation as a new user follows it: the block reference is what
// the tool generates, the patch sample runs as shown, every example runs
// alike from the repository root and from its own folder, and the README's
// figures are what the examples print.
#include <algorithm>
#include <cmath>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "tool_test.h"

namespace {

namespace fs = std::filesystem;

const fs::path source(MRV_SOURCE);

// A copy of the examples in a folder of its own, beside an empty build/,
// as they sit in the repository.
class Docs : public ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        fs::create_directories(folder / "examples");
        fs::create_directories(folder / "build");
        fs::create_directory_symlink(source / "examples" / "data", folder / "examples" / "data");
    }
    Result mrv_run_in(const fs::path& directory, const std::string& arguments) {
        return run("cd " + directory.string() + " && " + MRV_RUN + " " + arguments);
    }
    // Every file the runs wrote, by name; the training logs carry the time.
    std::map<std::string, std::string> outputs() {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::directory_iterator(folder / "build"))
            if (entry.path().extension() != ".log") files[entry.path().filename().string()] = read_file(entry.path());
        return files;
    }
};

// The block reference is what mrv-inspect generates; the catalog's classes
// are counted with the examples below.
TEST_F(Docs, BlockReferenceIsCurrent) {
    const Result generated = run(std::string(MRV_INSPECT) + " --markdown " + MRV_PLUGIN + " " +
                                 (source / "docs" / "block-notes.md").string());
    ASSERT_EQ(generated.status, 0) << generated.output;
    EXPECT_TRUE(generated.output == read_file(source / "docs" / "blocks.md"))
        << "docs/blocks.md is out of date: cmake --build build --target block-docs";
}

// The value columns of each line of a sink's file, the tick dropped.
std::vector<std::vector<double>> values_of(const std::string& text) {
    std::vector<std::vector<double>> rows;
    for (const auto& line : lines_of(text)) {
        std::vector<double> row;
        std::istringstream in(line.substr(line.find(',') + 1));
        for (std::string field; std::getline(in, field, ',');) row.push_back(std::stod(field));
        rows.push_back(row);
    }
    return rows;
}

// How many of `found`'s first values equal column `label` of the table's
// rows from `skip` on.
std::size_t right(const std::string& found, const std::string& table, std::size_t skip, std::size_t label) {
    const auto expected = values_of(read_file(source / "examples" / "data" / table));  // column 0 dropped
    const auto predicted = values_of(found);
    EXPECT_EQ(predicted.size() + skip, expected.size()) << table;
    std::size_t count = 0;
    for (std::size_t r = 0; r < predicted.size() && r + skip < expected.size(); ++r)
        count += predicted[r][0] == expected[r + skip][label - 1];
    return count;
}

// The figures docs/examples.md and docs/patches.md quote, in the files the
// examples and the sample wrote.
void figures_match_the_docs(const std::map<std::string, std::string>& files) {
    // Sepal length from [4.3, 7.9] onto [-1, 2], from the 100th flower onto
    // [0, 2]: 5.1 cm below 0, then 5.7 cm at 0.78.
    const auto sepal = values_of(files.at("iris-sample.csv"));
    ASSERT_EQ(sepal.size(), 150u);
    EXPECT_NEAR(sepal[98][0], -1.0 / 3, 1e-9);
    EXPECT_NEAR(sepal[99][0], 2 - 2.2 / 1.8, 1e-9);
    // Wine 1's alcohol, 1.396 deviations above the training wines with itself.
    const auto zscores = lines_of(files.at("wine-zscores.csv"));
    ASSERT_EQ(zscores.size(), 178u);
    EXPECT_EQ(zscores[0].substr(0, 21), "1,1.3958700307306386,");
    EXPECT_EQ(lines_of(files.at("wine.libsvm"))[0],
              "0 1:14.23 2:1.71 3:2.43 4:15.6 5:127 6:2.8 7:3.06 8:0.28 9:2.29 10:5.64 11:1.04 12:3.92 13:1065 ");
    EXPECT_EQ(right(files.at("wine-svm-predictions.csv"), "wine-test.csv", 0, 13), 43u);
    EXPECT_EQ(right(files.at("digits-svm-predictions.csv"), "digits.csv", 1000, 64), 756u);
    // Per-species petal histograms, the means of ten runs of 15 flowers and
    // the stabilized species.
    EXPECT_EQ(files.at("iris-petal-setosa.csv"), "151,24,26,0,0,0,0,0,0,0,0,0,0\n");
    EXPECT_EQ(files.at("iris-petal-versicolor.csv"), "151,0,0,0,0,3,8,18,19,2,0,0,0\n");
    EXPECT_EQ(files.at("iris-petal-virginica.csv"), "151,0,0,0,0,0,0,0,6,16,17,7,4\n");
    const std::vector<double> means{0, 30, 1.42, 1.5267, 1.44, 3.4, 4.2733, 4.3267, 4.58, 5.6467, 5.5867, 5.38};
    const auto found = values_of(files.at("iris-petal-means.csv"));
    ASSERT_EQ(found.size(), 1u);
    ASSERT_EQ(found[0].size(), means.size());
    for (std::size_t i = 0; i < means.size(); ++i) EXPECT_NEAR(found[0][i], means[i], 1e-4) << i;
    const auto labels = lines_of(files.at("iris-species-stabilized.csv"));
    ASSERT_EQ(labels.size(), 150u);
    for (const char* line : {"50,-1", "57,-1", "58,1", "102,1", "103,-1", "108,2", "150,2"})
        EXPECT_EQ(labels[std::stoul(line) - 1], line);
    // Flower 1's petals, 0.36 deviations from the setosa mean; votes every
    // ten flowers.
    EXPECT_NEAR(values_of(files.at("iris-score-setosa.csv"))[0][0], std::exp(-0.062 * 0.062 / (2 * 0.174 * 0.174)),
                1e-12);
    std::string votes;
    for (int tick = 10; tick <= 150; tick += 10) votes += std::to_string(tick) + (tick <= 100 ? ",0,0\n" : ",1,1\n");
    EXPECT_EQ(files.at("iris-vote-answers.csv"), votes);
    EXPECT_EQ(lines_of(files.at("iris-vote-certainty.csv")).back(), "150,1");
    // The map's class for the last 150 lines, the flowers in file order:
    // 50, 49 and 48 of each species, and never -1.
    const auto classes = values_of(files.at("iris-som-classes.csv"));
    ASSERT_EQ(classes.size(), 1650u);
    std::vector<int> agree(3, 0);
    for (std::size_t i = 0; i < 150; ++i) {
        agree[i / 50] += classes[1500 + i][0] == static_cast<double>(1 + i / 50);
        EXPECT_NE(classes[1500 + i][0], -1.0) << i;
    }
    EXPECT_EQ(agree, (std::vector<int>{50, 49, 48}));
}

// Every example but the live one, and the sample of docs/patches.md saved
// in examples/ as the text says, run from the repository root and then from
// its own folder: the same files, byte for byte. Together they use every
// catalog class, and the README's first example prints its summary.
TEST_F(Docs, EveryExampleRunsAlikeFromTheRootAndFromItsFolder) {
    const std::string text = read_file(source / "docs" / "patches.md");
    const auto begin = text.find("```json\n") + 8;
    write("examples/sample.json", text.substr(begin, text.find("```", begin) - begin));
    std::vector<std::string> patches{"sample.json"};
    std::set<std::string> used;
    for (const auto& entry : fs::directory_iterator(source / "examples")) {
        if (entry.path().extension() != ".json") continue;
        const auto patch = nlohmann::json::parse(read_file(entry.path()));
        for (const auto& block : patch["blocks"]) used.insert(block["class"].get<std::string>());
        if (patch["run"].value("until", "") == "stopped") continue;
        fs::copy_file(entry.path(), folder / "examples" / entry.path().filename());
        patches.push_back(entry.path().filename().string());
    }
    // Models are trained before the patches that load them.
    std::sort(patches.begin(), patches.end());
    std::stable_partition(patches.begin(), patches.end(), [](auto& p) { return p.find("-train") != std::string::npos; });
    for (const auto& patch : patches) {
        const Result result = mrv_run_in(folder, "examples/" + patch + " --quiet");
        ASSERT_EQ(result.status, 0) << patch << "\n" << result.output;
        if (patch == "iris-rescale.json") {
            // The summary the README quotes, the time aside.
            std::smatch quoted;
            const std::string readme = read_file(source / "README.md");
            ASSERT_TRUE(std::regex_search(readme, quoted, std::regex("    (mrv-run: ok: [^\n]*)")));
            const std::regex seconds("[0-9.]+ s;");
            EXPECT_EQ(std::regex_replace(quoted[1].str(), seconds, "s;"),
                      std::regex_replace(lines_of(result.output).back(), seconds, "s;"));
        }
    }
    const auto from_root = outputs();
    EXPECT_GE(from_root.size(), 20u);
    figures_match_the_docs(from_root);
    fs::remove_all(folder / "build");
    fs::create_directory(folder / "build");
    for (const auto& patch : patches) {
        const Result result = mrv_run_in(folder / "examples", patch + " --quiet");
        ASSERT_EQ(result.status, 0) << patch << "\n" << result.output;
    }
    const auto from_folder = outputs();
    ASSERT_EQ(from_folder.size(), from_root.size());
    for (const auto& [name, bytes] : from_root) EXPECT_TRUE(from_folder.at(name) == bytes) << name;

    const Result library = run(std::string(MRV_INSPECT) + " " + MRV_PLUGIN);
    // The lines under the heading "CLASS ID  NAME  CATALOG PATH".
    const std::string listing = library.output.substr(library.output.find("CLASS ID"));
    const auto classes = lines_of(listing.substr(0, listing.find("\n\n")));
    ASSERT_EQ(classes.size(), 13u);
    for (std::size_t i = 1; i < classes.size(); ++i) {
        const std::string class_id = classes[i].substr(2, classes[i].find(' ', 2) - 2);
        EXPECT_TRUE(used.count(class_id)) << class_id << " has no example";
    }
}

}  // namespace
