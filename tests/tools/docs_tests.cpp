// The documentation as a new user follows it: the block reference is what
// the tool generates, the patch sample runs as shown, every example runs
// alike from the repository root and from its own folder, and the README's
// figures are what the examples print.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>

#include <nlohmann/json.hpp>

#include "common/command_line.h"

namespace {

namespace fs = std::filesystem;

const fs::path source(MRV_SOURCE);

// A copy of the examples in a folder of its own, beside an empty build/,
// as they sit in the repository.
class Docs : public ::testing::Test {
protected:
    void SetUp() override {
        root = fresh_test_folder("mrv-docs");
        fs::create_directories(root / "examples");
        fs::create_directories(root / "build");
        fs::create_directory_symlink(source / "examples" / "data", root / "examples" / "data");
    }
    void TearDown() override { fs::remove_all(root); }

    Result mrv_run_in(const fs::path& directory, const std::string& arguments) {
        return run("cd " + directory.string() + " && " + MRV_RUN + " " + arguments);
    }
    // Every file the runs wrote, by name; the training logs carry the time.
    std::map<std::string, std::string> outputs() {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::directory_iterator(root / "build"))
            if (entry.path().extension() != ".log") files[entry.path().filename().string()] = read_file(entry.path());
        return files;
    }

    fs::path root;
};

TEST_F(Docs, BlockReferenceIsCurrent) {
    const Result generated = run(std::string(MRV_INSPECT) + " --markdown " + MRV_PLUGIN + " " +
                                 (source / "docs" / "block-notes.md").string());
    ASSERT_EQ(generated.status, 0) << generated.output;
    EXPECT_TRUE(generated.output == read_file(source / "docs" / "blocks.md"))
        << "docs/blocks.md is out of date: cmake --build build --target block-docs";
    // The twelve catalog blocks the README counts.
    const std::string catalog = generated.output.substr(0, generated.output.find("## Host blocks"));
    std::size_t sections = 0;
    for (std::size_t at = 0; (at = catalog.find("\n### ", at)) != std::string::npos; ++at) ++sections;
    EXPECT_EQ(sections, 12u);
}

// The sample of docs/patches.md, saved in examples/ as the text says.
TEST_F(Docs, PatchSampleRunsAsShown) {
    const std::string text = read_file(source / "docs" / "patches.md");
    const auto begin = text.find("```json\n") + 8;
    std::ofstream(root / "examples" / "sample.json") << text.substr(begin, text.find("```", begin) - begin);
    const Result result = mrv_run_in(root, "examples/sample.json");
    ASSERT_EQ(result.status, 0) << result.output;
    const auto rows = lines_of(read_file(root / "build" / "iris-sample.csv"));
    ASSERT_EQ(rows.size(), 150u);
    // Sepal length from [4.3, 7.9] onto [-1, 2], from the 100th flower onto
    // [0, 2]: 5.1 cm below 0, then 5.7 cm at 0.78.
    auto sepal = [&](std::size_t row) { return std::stod(rows[row].substr(rows[row].find(',') + 1)); };
    EXPECT_NEAR(sepal(98), -1.0 / 3, 1e-9);
    EXPECT_NEAR(sepal(99), 2 - 2.2 / 1.8, 1e-9);
}

// Every example but the live one, run from the repository root and then
// from its own folder: the same files, byte for byte. Together they use
// every catalog class, and the README's first example prints its summary.
TEST_F(Docs, EveryExampleRunsAlikeFromTheRootAndFromItsFolder) {
    std::vector<std::string> patches;
    std::set<std::string> used;
    for (const auto& entry : fs::directory_iterator(source / "examples")) {
        if (entry.path().extension() != ".json") continue;
        const auto patch = nlohmann::json::parse(read_file(entry.path()));
        for (const auto& block : patch["blocks"]) used.insert(block["class"].get<std::string>());
        if (patch["run"].value("until", "") == "stopped") continue;
        fs::copy_file(entry.path(), root / "examples" / entry.path().filename());
        patches.push_back(entry.path().filename().string());
    }
    // Models are trained before the patches that load them.
    std::sort(patches.begin(), patches.end(), [](const std::string& a, const std::string& b) {
        const bool a_trains = a.find("-train") != std::string::npos, b_trains = b.find("-train") != std::string::npos;
        return a_trains != b_trains ? a_trains : a < b;
    });

    std::map<std::string, std::string> from_root;
    for (const auto& patch : patches) {
        const Result result = mrv_run_in(root, "examples/" + patch + " --quiet");
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
    from_root = outputs();
    EXPECT_GE(from_root.size(), 20u);
    fs::remove_all(root / "build");
    fs::create_directory(root / "build");
    for (const auto& patch : patches) {
        const Result result = mrv_run_in(root / "examples", patch + " --quiet");
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
