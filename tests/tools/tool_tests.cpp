// The command-line tools as a user runs them: patch files in, CSV files,
// saved patches, messages and exit codes out.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "common/command_line.h"

namespace {

namespace fs = std::filesystem;

class Tools : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("mrv-tools-" + std::to_string(::getpid()) + "-" +
                                              ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder / "data");
        fs::copy_file(fs::path(MRV_EXAMPLES) / "data" / "iris.csv", folder / "data" / "iris.csv");
    }
    void TearDown() override { fs::remove_all(folder); }

    fs::path write_patch(const std::string& name, const nlohmann::json& patch) {
        std::ofstream(folder / name) << patch.dump(2);
        return folder / name;
    }
    fs::path write_text(const std::string& name, const std::string& text) {
        std::ofstream(folder / name) << text;
        return folder / name;
    }
    Result mrv_run(const std::string& arguments) { return run(std::string(MRV_RUN) + " " + arguments); }
    Result mrv_inspect(const std::string& arguments) { return run(std::string(MRV_INSPECT) + " " + arguments); }

    // The iris example, writing into this test's folder.
    nlohmann::json iris_patch() {
        nlohmann::json patch = nlohmann::json::parse(read_file(fs::path(MRV_EXAMPLES) / "iris-rescale.json"));
        patch["blocks"][3]["parameters"]["File"] = "rescaled.csv";
        return patch;
    }

    fs::path folder;
};

TEST_F(Tools, IrisExampleRescalesEveryRow) {
    const Result result = mrv_run(write_patch("iris.json", iris_patch()).string());
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("mrv-run: ok: 150 ticks, 4 blocks, 0 errors"), std::string::npos) << result.output;
    const auto rows = lines_of(read_file(folder / "rescaled.csv"));
    ASSERT_EQ(rows.size(), 150u);
    // 5.1, 3.5, 1.4, 0.2 against the ranges of the four measurements.
    EXPECT_EQ(rows[0], "1,-0.5555555555555558,0.24999999999999978,-0.8644067796610169,-0.9166666666666665");
    EXPECT_EQ(rows[149].substr(0, 4), "150,");
}

// The wine example, with the training file it is given.
nlohmann::json wine_patch(const fs::path& folder, const std::string& training_file) {
    nlohmann::json patch = nlohmann::json::parse(read_file(fs::path(MRV_EXAMPLES) / "wine-standardize.json"));
    fs::copy_file(fs::path(MRV_EXAMPLES) / "data" / "wine.csv", folder / "data" / "wine.csv",
                  fs::copy_options::overwrite_existing);
    patch["blocks"][1]["parameters"]["TrainingSetFile"] = training_file;
    patch["blocks"][2]["parameters"]["File"] = "zscores.csv";
    return patch;
}

TEST_F(Tools, WineExampleWritesTheZScoresOfEveryWine) {
    const std::string training = (fs::path(MRV_EXAMPLES) / "data" / "wine-training.txt").string();
    const Result result = mrv_run(write_patch("wine.json", wine_patch(folder, training)).string());
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("mrv-run: ok: 178 ticks, 3 blocks, 0 errors, 0 warnings"), std::string::npos)
        << result.output;
    const auto rows = lines_of(read_file(folder / "zscores.csv"));
    ASSERT_EQ(rows.size(), 178u);
    // Wine 1's alcohol, 14.23 %, against the 89 training wines (mean 13.03,
    // deviation 0.84) together with itself: 1.396 deviations above.
    EXPECT_EQ(rows[0].substr(0, 21), "1,1.3958700307306386,");
    EXPECT_EQ(std::count(rows[0].begin(), rows[0].end(), ','), 13);
}

TEST_F(Tools, WineExampleWithoutItsTrainingFileFailsToStart) {
    const std::string missing = (folder / "missing.txt").string();
    const Result result = mrv_run(write_patch("wine.json", wine_patch(folder, missing)).string());
    EXPECT_EQ(result.status, 1) << result.output;
    // The block gives its reason as a warning; the summary quotes it rather
    // than the general "error in method Init" that follows.
    EXPECT_NE(result.output.find("block \"standardize\" failed to initialise: Cannot open file " + missing +
                                 "; the run is stopped"),
              std::string::npos)
        << result.output;
}

TEST_F(Tools, ScheduledChangeIsSavedAndReloaded) {
    nlohmann::json patch = iris_patch();
    patch["events"] = {{{"at", 100}, {"block", "rescale"}, {"set", "OutputHighBound"}, {"value", 3.0}}};
    const fs::path saved = folder / "saved.json";
    const Result first = mrv_run(write_patch("iris.json", patch).string() + " --save " + saved.string());
    ASSERT_EQ(first.status, 0) << first.output;
    const auto before = lines_of(read_file(folder / "rescaled.csv"));
    const nlohmann::json document = nlohmann::json::parse(read_file(saved));
    EXPECT_EQ(document["blocks"][2]["parameters"]["OutputHighBound"], 3.0);
    EXPECT_EQ(document["blocks"][2]["saved"]["parameters"][1]["value"], 3.0);
    EXPECT_EQ(document["blocks"][1]["parameters"]["Value"][3][1], 2.5);

    // The saved patch restores the block with the bound it ended with.
    nlohmann::json again = document;
    again["events"] = nlohmann::json::array();
    write_patch("saved.json", again);
    const Result second = mrv_run(saved.string());
    ASSERT_EQ(second.status, 0) << second.output;
    const auto after = lines_of(read_file(folder / "rescaled.csv"));
    ASSERT_EQ(after.size(), 150u);
    EXPECT_EQ(after[149], before[149]);  // both rescaled onto [-1, 3]
    EXPECT_NE(after[0], before[0]);      // the first run began with [-1, 1]
}

TEST_F(Tools, TicksOptionLimitsTheRun) {
    const Result result = mrv_run(write_patch("iris.json", iris_patch()).string() + " --ticks 10 --quiet");
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(lines_of(read_file(folder / "rescaled.csv")).size(), 10u);
}

TEST_F(Tools, TraceLevelLogsTheLifecycle) {
    const Result result = mrv_run(write_patch("iris.json", iris_patch()).string() + " --ticks 1 --trace-level 3");
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("Block rescale: method Init starting"), std::string::npos) << result.output;
}

TEST_F(Tools, BlockMessagesArePrintedWithLevelAndName) {
    nlohmann::json patch = iris_patch();
    patch["blocks"][1]["parameters"]["Value"] = {{0, 1}, {0, 1}, {0, 1}};  // 3 ranges for 4 features
    const Result result = mrv_run(write_patch("bad-ranges.json", patch).string());
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.output.find("[error] rescale: CVectorRescaler::Init -- Ranges should be provided as a (4x2) matrix."),
              std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find(": block \"rescale\" failed to initialise: CVectorRescaler::Init -- Ranges should be "
                                 "provided as a (4x2) matrix.; the run is stopped"),
              std::string::npos)
        << result.output;
}

struct BadFile {
    const char* name;
    std::function<void(nlohmann::json&)> spoil;
    const char* expected;
};

TEST_F(Tools, BadPatchFilesGetAClearErrorAndNoSave) {
    const std::vector<BadFile> cases = {
        {"unknown-class", [](auto& p) { p["blocks"][2]["class"] = "VectorRescalr"; },
         "blocks[2]: block \"rescale\": no block class \"VectorRescalr\" in the loaded libraries (did you mean "
         "\"VectorRescaler\"?)"},
        {"class-in-lower-case", [](auto& p) { p["blocks"].push_back({{"name", "stable"}, {"class", "stabilizer"}}); },
         "no block class \"stabilizer\" in the loaded libraries (did you mean \"Stabilizer\"?)"},
        {"missing-name", [](auto& p) { p["blocks"][0].erase("name"); }, "blocks[0]: missing \"name\""},
        {"duplicate-name", [](auto& p) { p["blocks"][1]["name"] = "iris"; }, "two blocks are named \"iris\""},
        {"unknown-pin", [](auto& p) { p["links"][0]["to"] = "rescale.Input"; },
         "links[0]: block \"rescale\" has no input \"Input\" (did you mean \"InputVector\" or \"InputRanges\"?)"},
        {"bad-pin-form", [](auto& p) { p["links"][0]["from"] = "iris"; }, "links[0]: \"iris\" is not of the form block.pin"},
        {"datatype-mismatch",
         [](auto& p) {
             p["blocks"][3]["datatype"] = "double";
         },
         "links[2]: cannot link rescale.OutputVector (kernel/double-matrix) to out.Input (kernel/double): the datatypes differ"},
        {"unknown-parameter", [](auto& p) { p["blocks"][2]["parameters"]["Gain"] = 1; },
         "block \"rescale\" has no parameter \"Gain\" (the parameters are \"OutputLowBound\" and \"OutputHighBound\")"},
        {"misspelt-parameter",
         [](auto& p) {
             p["blocks"].push_back({{"name", "stable"}, {"class", "Stabilizer"}, {"parameters", {{"Threshhold", 50}}}});
         },
         "block \"stable\" has no parameter \"Threshhold\" (did you mean \"Threshold\"?)"},
        {"outside-domain",
         [](auto& p) {
             p["blocks"].push_back({{"name", "stable"}, {"class", "Stabilizer"}, {"parameters", {{"Threshold", 150}}}});
         },
         "block \"stable\", parameter \"Threshold\": 150 is outside its domain (from 0 to 100)"},
        {"misspelt-combo-item",
         [](auto& p) {
             p["blocks"].push_back({{"name", "train"}, {"class", "SVMTrain"}, {"parameters", {{"SVMType", "c-svc"}}}});
         },
         "block \"train\", parameter \"SVMType\": no item \"c-svc\" (did you mean \"C-SVC\"?)"},
        {"bad-value", [](auto& p) { p["blocks"][2]["parameters"]["OutputLowBound"] = "low"; },
         "block \"rescale\", parameter \"OutputLowBound\": expected a number, not \"low\""},
        {"refused-value", [](auto& p) { p["blocks"][2]["parameters"]["OutputLowBound"] = 5.0; },
         "block \"rescale\", parameter \"OutputLowBound\": the block refused 5.0: CVectorRescaler::OnChangingParameter -- "
         "The lower bound is greater than the upper bound. The old values will be kept."},
        {"cycle",
         [](auto& p) {
             p["blocks"].push_back({{"name", "loop"}, {"class", "VectorRescaler"}});
             p["links"].push_back({{"from", "rescale.OutputVector"}, {"to", "loop.InputVector"}});
             p["links"].push_back({{"from", "loop.OutputVector"}, {"to", "rescale.InputRanges"}});
             p["links"].erase(1);
         },
         "the links form a cycle through blocks rescale, loop"},
        {"unlinked-required", [](auto& p) { p["links"].erase(1); },
         "block \"rescale\": required input \"InputRanges\" is not linked"},
        {"bad-event", [](auto& p) { p["events"] = {{{"at", 0}, {"block", "rescale"}, {"fire", "OutputLowBound"}}}; },
         "events[0]: \"at\" must be a tick number from 1, or \"end\""},
        {"bad-run", [](auto& p) { p["run"] = {{"ticks", -3}}; }, "run: expected {\"ticks\": N}"},
        {"missing-plugin", [](auto& p) { p["plugins"] = {"/nowhere/libOther.so"}; }, "plugins: cannot load /nowhere/libOther.so"},
        {"event-value-type",
         [](auto& p) { p["events"] = {{{"at", 3}, {"block", "rescale"}, {"set", "OutputHighBound"}, {"value", "high"}}}; },
         "events[0]: block \"rescale\", parameter \"OutputHighBound\": expected a number, not \"high\""},
        {"event-fires-a-number", [](auto& p) { p["events"] = {{{"at", 1}, {"block", "rescale"}, {"fire", "OutputLowBound"}}}; },
         "events[0]: \"OutputLowBound\" of block \"rescale\" is not a trigger (there are no triggers)"},
        {"event-unknown-block", [](auto& p) { p["events"] = {{{"at", "end"}, {"block", "nobody"}, {"fire", "Go"}}}; },
         "events[0]: no block \"nobody\" (the blocks are \"iris\", \"ranges\", \"rescale\" and \"out\")"},
        {"event-beyond-any-tick",
         [](auto& p) {
             p["events"] = {{{"at", nlohmann::json::parse("99999999999999999999")}, {"block", "rescale"}, {"fire", "X"}}};
         },
         "events[0]: \"at\" must be a tick number from 1, or \"end\""},
        {"sink-over-source", [](auto& p) { p["blocks"][3]["parameters"]["File"] = "data/../data/iris.csv"; },
         "blocks: block \"out\" (File) would overwrite \""},
        {"sink-datatype", [](auto& p) { p["blocks"][3]["datatype"] = "trigger"; },
         "blocks[3]: block \"out\": host.csv_sink carries no datatype \"trigger\""},
        {"run-period-zero", [](auto& p) { p["run"] = {{"until", "exhausted"}, {"period_ms", 0}}; }, "; \"period_ms\" is 0"},
        {"run-unknown-setting", [](auto& p) { p["run"] = {{"ticks", 5}, {"speed", 2}}; },
         "run: unknown key \"speed\" (the keys are \"ticks\", \"until\" and \"period_ms\")"},
        {"misspelt-key", [](auto& p) { p["blocks"][2]["paramaters"] = p["blocks"][2]["parameters"]; },
         "blocks[2]: unknown key \"paramaters\" (did you mean \"parameters\"?)"},
        {"misspelt-top-key", [](auto& p) { p["link"] = p["links"]; }, ": unknown key \"link\" (did you mean \"links\"?)"},
        {"misspelt-event-key", [](auto& p) { p["events"] = {{{"at", 3}, {"block", "rescale"}, {"fires", "X"}}}; },
         "events[0]: unknown key \"fires\" (did you mean \"fire\"?)"},
        {"misspelt-value-key",
         [](auto& p) {
             p["blocks"][1]["datatype"] = "temporal_data";
             p["blocks"][1]["parameters"]["Value"] = {{"rate", 1}, {"chanels", {{1}}}, {"channels", {{1}}}};
         },
         "unknown key \"chanels\" (did you mean \"channels\"?)"},
        {"run-beyond-any-tick", [](auto& p) { p["run"] = {{"ticks", nlohmann::json::parse("99999999999999999999")}}; },
         "; \"ticks\" is 1e+20"},
    };
    for (const auto& bad : cases) {
        nlohmann::json patch = iris_patch();
        bad.spoil(patch);
        const fs::path file = write_patch(std::string(bad.name) + ".json", patch);
        const fs::path saved = folder / (std::string(bad.name) + "-saved.json");
        const Result result = mrv_run(file.string() + " --save " + saved.string());
        EXPECT_EQ(result.status, 1) << bad.name;
        EXPECT_NE(result.output.find("mrv-run: " + file.string() + ": "), std::string::npos) << bad.name << "\n" << result.output;
        EXPECT_NE(result.output.find(bad.expected), std::string::npos) << bad.name << "\n" << result.output;
        // The file is named once, at the start.
        EXPECT_EQ(result.output.find(file.string(), result.output.find(file.string()) + 1), std::string::npos)
            << bad.name << "\n" << result.output;
        EXPECT_FALSE(fs::exists(saved)) << bad.name;
        EXPECT_FALSE(fs::exists(folder / "rescaled.csv")) << bad.name;
    }
}

TEST_F(Tools, FilesThatAreNotPatches) {
    const Result invalid = mrv_run(write_text("broken.json", "{\n  \"blocks\": [\n    {\"name\": }\n]}").string());
    EXPECT_EQ(invalid.status, 1);
    EXPECT_NE(invalid.output.find("broken.json: not valid JSON: "), std::string::npos) << invalid.output;
    EXPECT_NE(invalid.output.find("line 3"), std::string::npos) << invalid.output;
    const Result missing = mrv_run((folder / "absent.json").string());
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.output.find("absent.json: cannot open the patch file"), std::string::npos);
    const Result usage = mrv_run("--frobnicate x.json");
    EXPECT_EQ(usage.status, 2);
    const Result folder_patch = mrv_run(folder.string());
    EXPECT_EQ(folder_patch.status, 1);
    EXPECT_NE(folder_patch.output.find(folder.string() + ": cannot open the patch file: it is a directory"),
              std::string::npos)
        << folder_patch.output;
}

TEST_F(Tools, HostilePatchesGetShortMessagesAndNoCrash) {
    // 100,000 levels of nesting in a 200 KB file.
    const std::string deep = "{\"blocks\": [{\"name\": \"c\", \"class\": \"host.constant\", \"parameters\": {\"Value\": " +
                             std::string(100000, '[') + std::string(100000, ']') + "}}]}";
    const fs::path nested = write_text("nested.json", deep);
    const Result result = mrv_run(nested.string());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, "mrv-run: " + nested.string() + ": not a patch: values nest deeper than 100 levels\n");

    // A long value is quoted by its beginning only.
    nlohmann::json patch = iris_patch();
    patch["blocks"][2]["parameters"]["OutputLowBound"] = std::string(100000, 'x');
    patch["blocks"][1]["parameters"]["Value"] = nlohmann::json::array({nlohmann::json::array({1, std::string(100000, 'y')})});
    const fs::path long_file = write_patch("long.json", patch);
    const Result long_value = mrv_run(long_file.string());
    EXPECT_EQ(long_value.status, 1);
    EXPECT_EQ(long_value.output.substr(0, 2000), "mrv-run: " + long_file.string() +
                                                     ": blocks[1]: block \"ranges\", parameter \"Value\": expected a "
                                                     "number, not \"" + std::string(39, 'y') + "...\n");
}

// What a JSON library would take without a word: a key given twice (the
// last would win) and a NUL inside a string (cut short wherever it is read
// as C text).
TEST_F(Tools, DuplicateKeysAndNulCharactersAreRefused) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"blocks": [], "blocks": []})", "the top level: the key \"blocks\" is given twice"},
        {R"({"blocks": [{"name": "a", "class": "host.constant", "parameters": {"Value": 1, "Value": 2}}]})",
         "blocks[0].parameters: the key \"Value\" is given twice"},
        {R"({"blocks": [{"name": "a\u0000b", "class": "host.constant"}]})",
         "blocks[0].name: a string holds a NUL character"},
        {R"({"plugins": ["x", "lib\u0000.so"], "blocks": []})", "plugins[1]: a string holds a NUL character"},
        {R"({"blocks": [{"na\u0000me": "a"}]})", "blocks[0]: a string holds a NUL character"},
    };
    for (const auto& [text, message] : cases) {
        const std::string file = write_text("bad.json", text).string();
        const Result result = mrv_run(file);
        EXPECT_EQ(result.status, 1) << text;
        EXPECT_EQ(result.output, "mrv-run: " + file + ": " + message + "\n") << text;
    }
}

// Each line is handed to the system whole: with stdout and stderr in one
// file the summary comes last, on a line of its own, and a run killed with
// SIGTERM keeps every line it printed.
TEST_F(Tools, OutputIsWrittenLineByLine) {
    nlohmann::json patch = {
        {"blocks",
         {{{"name", "rows"}, {"class", "host.csv_source"},
           {"parameters", {{"File", "data/iris.csv"}, {"HeaderRows", 1}, {"Columns", "0-3"}}}},
          {{"name", "show"}, {"class", "host.print"}, {"datatype", "double-matrix"}}}},
        {"links", {{{"from", "rows.Output"}, {"to", "show.Input"}}}}};
    const std::string out = (folder / "out.txt").string();
    auto check_lines = [&](std::size_t at_least) {
        const std::string text = read_file(out);
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.back(), '\n');
        const auto lines = lines_of(text);
        ASSERT_GE(lines.size(), at_least);
        for (std::size_t i = 0; i + 1 < lines.size() && i < 150; ++i)  // the summary last
            EXPECT_EQ(lines[i].rfind("[message] show: tick " + std::to_string(i + 1) + ": ", 0), 0u) << lines[i];
    };
    std::string file = write_patch("print.json", patch).string();
    ASSERT_EQ(run(std::string(MRV_RUN) + " " + file + " > " + out).status, 0);
    check_lines(151);
    EXPECT_EQ(lines_of(read_file(out)).back().rfind("mrv-run: ok: 150 ticks", 0), 0u);

    patch["run"] = {{"ticks", 100000}, {"period_ms", 10}};
    file = write_patch("print.json", patch).string();
    const Result killed = run("sh -c '" + std::string(MRV_RUN) + " " + file + " > " + out + " 2>&1 & pid=$!; " +
                              "for i in $(seq 3000); do [ $(wc -l < " + out + ") -ge 3 ] && break; sleep 0.02; done; " +
                              "kill -TERM $pid; wait $pid; echo $?'");
    // SIGTERM ends the run after its tick: every line kept, the summary last.
    EXPECT_EQ(killed.output, "0\n");
    check_lines(3);
    EXPECT_NE(lines_of(read_file(out)).back().find(", stopped by SIGTERM"), std::string::npos);
}

TEST_F(Tools, TicksOptionIsAWholeNumberInRange) {
    const std::string file = write_patch("iris.json", iris_patch()).string();
    for (const char* bad : {"99999999999999999999", "0", "-5", "12abc", ""}) {
        const Result result = mrv_run(file + " --ticks '" + bad + "'");
        EXPECT_EQ(result.status, 2) << bad;
        EXPECT_EQ(result.output, "mrv-run: --ticks needs a number from 1 to 9223372036854775807\n") << bad;
    }
    EXPECT_FALSE(fs::exists(folder / "rescaled.csv"));
}

TEST_F(Tools, WhatABlockSaysWhileRestoredIsPrintedAndCounted) {
    const fs::path saved = folder / "saved.json";
    ASSERT_EQ(mrv_run(write_patch("iris.json", iris_patch()).string() + " --save " + saved.string()).status, 0);
    nlohmann::json document = nlohmann::json::parse(read_file(saved));
    // The saved bound has become an int: the block says so as it restores itself.
    auto& bound = document["blocks"][2]["saved"]["parameters"][1];
    ASSERT_EQ(bound["id"], "OutputHighBound");
    bound["class"] = "int";
    bound["value"] = 2;
    const Result result = mrv_run(write_patch("restored.json", document).string());
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.output.find("[fatal] rescale: Block rescale: unhandled exception of type Mrv::IException in method "
                                 "InitInstance; exception message is Invalid type cast.\n"),
              std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("mrv-run: failed: 150 ticks, 4 blocks, 1 errors, 0 warnings"), std::string::npos)
        << result.output;
}

TEST_F(Tools, AnEventRefusedWhenItFiresIsReportedByName) {
    nlohmann::json patch = iris_patch();
    patch["events"] = {{{"at", 3}, {"block", "rescale"}, {"set", "OutputLowBound"}, {"value", 5.0}}};
    const fs::path file = write_patch("refused.json", patch);
    const Result result = mrv_run(file.string());
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.output.find("[error] rescale: " + file.string() +
                                 ": events[0]: block \"rescale\", parameter \"OutputLowBound\": the block refused 5.0: "
                                 "CVectorRescaler::OnChangingParameter -- The lower bound is greater than the upper "
                                 "bound. The old values will be kept.\n"),
              std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("mrv-run: failed: 150 ticks"), std::string::npos) << result.output;
    EXPECT_EQ(lines_of(read_file(folder / "rescaled.csv")).size(), 150u);
}

TEST_F(Tools, AWriteThatFailsFailsTheRun) {
    // Files may not grow: the sink's first write fails, as on a full disk.
    const std::string file = write_patch("iris.json", iris_patch()).string();
    const Result result = run("sh -c \"trap '' XFSZ; ulimit -f 0; exec " + std::string(MRV_RUN) + " " + file + "\"");
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.output.find("[error] out: cannot write \"rescaled.csv\": File too large\n"),
              std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("mrv-run: failed: 150 ticks, 4 blocks, 1 errors"), std::string::npos) << result.output;
}

// A save target is checked before the run: it must be a regular file (or
// none yet) in a folder that is there, and no file a block uses.
TEST_F(Tools, SaveTargetsThatCannotBeWrittenAreRefusedBeforeTheRun) {
    fs::create_directory(folder / "folder");
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
    const std::string file = write_patch("iris.json", iris_patch()).string();
    const std::string iris = (folder / "data" / "iris.csv").string();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {(folder / "folder").string(), "cannot write \"" + (folder / "folder").string() + "\": it is a directory"},
        {"/dev/full", "cannot write \"/dev/full\": it is a character device, not a file"},
        {(folder / "fifo").string(), "cannot write \"" + (folder / "fifo").string() + "\": it is a pipe, not a file"},
        {(folder / "nowhere" / "saved.json").string(),
         "cannot write \"" + (folder / "nowhere" / "saved.json").string() + "\": the folder \"" +
             (folder / "nowhere").string() + "\" does not exist"},
        {iris, "--save would overwrite \"" + iris + "\", which block \"iris\" (File) reads"},
    };
    const std::string data = read_file(iris);
    for (const auto& [target, message] : cases) {
        const Result result = mrv_run(file + " --save " + target);
        EXPECT_EQ(result.status, 1) << target;
        EXPECT_EQ(result.output, "mrv-run: " + file + ": " + message + "\n") << target;
    }
    EXPECT_FALSE(fs::exists(folder / "rescaled.csv"));
    EXPECT_EQ(fs::status("/dev/full").type(), fs::file_type::character);
    EXPECT_EQ(fs::status(folder / "fifo").type(), fs::file_type::fifo);
    EXPECT_EQ(read_file(iris), data);
}

// Saved into another folder, the patch names the same files from there:
// every relative name, a host block's or a catalog block's, is taken from
// the patch's folder.
TEST_F(Tools, SavedIntoAnotherFolderThePatchRunsFromThere) {
    fs::copy_file(fs::path(MRV_EXAMPLES) / "data" / "wine-training.txt", folder / "data" / "wine-training.txt");
    write_patch("wine.json", wine_patch(folder, "data/wine-training.txt"));
    const std::string in_folder = "cd " + folder.string() + " && " + MRV_RUN + " ";
    fs::create_directories(folder / "out" / "deeper");
    const Result first = run(in_folder + "wine.json --quiet --save out/deeper/saved.json");
    ASSERT_EQ(first.status, 0) << first.output;
    const std::string zscores = read_file(folder / "zscores.csv");
    const nlohmann::json saved = nlohmann::json::parse(read_file(folder / "out" / "deeper" / "saved.json"));
    EXPECT_EQ(saved["blocks"][0]["parameters"]["File"], "../../data/wine.csv");
    EXPECT_EQ(saved["blocks"][1]["parameters"]["TrainingSetFile"], "../../data/wine-training.txt");
    EXPECT_EQ(saved["blocks"][2]["parameters"]["File"], "../../zscores.csv");
    fs::remove(folder / "zscores.csv");
    const Result again = run(in_folder + "out/deeper/saved.json --quiet");
    ASSERT_EQ(again.status, 0) << again.output;
    EXPECT_EQ(read_file(folder / "zscores.csv"), zscores);
}

TEST_F(Tools, PacedRunKeepsItsPeriodWhenSaved) {
    nlohmann::json patch = iris_patch();
    patch["run"] = {{"ticks", 3}, {"period_ms", 2}};
    const fs::path saved = folder / "saved.json";
    const Result result = mrv_run(write_patch("paced.json", patch).string() + " --save " + saved.string());
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(lines_of(read_file(folder / "rescaled.csv")).size(), 3u);
    EXPECT_EQ(nlohmann::json::parse(read_file(saved))["run"], patch["run"]);
}

TEST_F(Tools, SourceFileProblemsStopTheRunAtInit) {
    nlohmann::json patch = iris_patch();
    patch["blocks"][0]["parameters"]["File"] = "data/none.csv";
    Result result = mrv_run(write_patch("no-data.json", patch).string());
    EXPECT_EQ(result.status, 1);
    // Files are named as the patch names them, from its folder.
    EXPECT_NE(result.output.find("[error] iris: cannot open \"data/none.csv\": No such file or directory\n"),
              std::string::npos)
        << result.output;
    // The summary gives the block and its reason.
    EXPECT_NE(result.output.find("mrv-run: " + (folder / "no-data.json").string() + ": block \"iris\" failed to "
                                 "initialise: cannot open \"data/none.csv\": No such file or directory; the run is "
                                 "stopped\n"),
              std::string::npos)
        << result.output;
    patch["blocks"][0]["parameters"]["File"] = "data";
    result = mrv_run(write_patch("folder-data.json", patch).string());
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.output.find("[error] iris: cannot open \"data\": it is a directory\n"),
              std::string::npos)
        << result.output;
    patch["blocks"][0]["parameters"]["File"] = "/dev/zero";
    result = mrv_run(write_patch("zero-data.json", patch).string());
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.output.find("[error] iris: cannot open \"/dev/zero\": it is a character device, not a file\n"),
              std::string::npos)
        << result.output;
    write_text("data/words.csv", "a,b\n1,2\nx,4\n");
    patch["blocks"][0]["parameters"]["File"] = "data/words.csv";
    patch["blocks"][0]["parameters"]["Columns"] = "";
    result = mrv_run(write_patch("words.json", patch).string());
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.output.find("words.csv:3: \"x\" is not a number"), std::string::npos) << result.output;
}

TEST_F(Tools, InspectListsTheCatalogInBothLanguages) {
    const Result english = mrv_inspect(MRV_PLUGIN);
    ASSERT_EQ(english.status, 0) << english.output;
    EXPECT_NE(english.output.find("Identifier   MrvML_5E0C2A91-7D4B-4f3e-A8C6-19B2D4F07E35"), std::string::npos);
    EXPECT_NE(english.output.find("VectorRescaler            Vector Rescaler           Math.Matrix.Operations"),
              std::string::npos)
        << english.output;
    EXPECT_NE(english.output.find("This block rescales the input vector according to the given ranges."),
              std::string::npos);
    const Result italian = mrv_inspect(std::string("--lang 1040 ") + MRV_PLUGIN);
    ASSERT_EQ(italian.status, 0);
    EXPECT_NE(italian.output.find("Questo blocco riscala il vettore in input sulla base dei range forniti."),
              std::string::npos)
        << italian.output;
    EXPECT_NE(italian.output.find("Questo catalogo include blocchi per l'apprendimento automatico"), std::string::npos);
}

TEST_F(Tools, InspectDescribesABlockFromItsInstance) {
    const Result result = mrv_inspect(std::string(MRV_PLUGIN) + " VectorRescaler");
    ASSERT_EQ(result.status, 0) << result.output;
    for (const char* line : {"    InputVector  kernel/double-matrix  required, drives execution\n",
                             "    InputRanges  kernel/double-matrix  required\n",
                             "\"Upper bound\" - Upper bound of the rescaled vector", "      value       -1\n",
                             "      attributes  visible, may change while running\n"})
        EXPECT_NE(result.output.find(line), std::string::npos) << line << "\n" << result.output;
    const Result unknown = mrv_inspect(std::string(MRV_PLUGIN) + " vectorrescaler");
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.output.find("no block class \"vectorrescaler\" in the library (did you mean \"VectorRescaler\"?)"),
              std::string::npos)
        << unknown.output;
    // A map's weights by shape and first values, unless every value is asked for.
    const Result map = mrv_inspect(std::string(MRV_PLUGIN) + " kohonenmap");
    EXPECT_NE(map.output.find("      value       160 x 40, first values: "), std::string::npos) << map.output;
    EXPECT_LT(lines_of(map.output).size(), 150u);
    const Result full = mrv_inspect(std::string("--full ") + MRV_PLUGIN + " kohonenmap");
    EXPECT_GT(full.output.size(), map.output.size() + 6400 * 2);
    // A block as a patch configures it, with the outputs its parameters add.
    const Result configured = mrv_inspect(std::string(MRV_EXAMPLES) + "/iris-decision.json score");
    ASSERT_EQ(configured.status, 0) << configured.output;
    EXPECT_NE(configured.output.find("  Outputs (4):\n    rarityoutput_i  kernel/double\n"), std::string::npos)
        << configured.output;
    EXPECT_NE(configured.output.find("    rarityoutput_iiii  kernel/double\n"), std::string::npos);
    const Result host = mrv_inspect("host.nosuch");
    EXPECT_EQ(host.status, 1);
    EXPECT_NE(host.output.find("mrv-inspect: there is no host block \"host.nosuch\" (the host blocks are "),
              std::string::npos)
        << host.output;
    const Result missing = mrv_inspect("/nowhere/libMrvML.so");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.output.find("cannot load /nowhere/libMrvML.so"), std::string::npos);
}

TEST_F(Tools, InspectDescribesSVMTrainWithEveryPinAndParameter) {
    const Result result = mrv_inspect(std::string(MRV_PLUGIN) + " SVMTrain");
    ASSERT_EQ(result.status, 0) << result.output;
    for (const char* line : {"InputMatrix  kernel/double-matrix  required", "TrainedFlag  kernel/int",
                             "Ranges  kernel/double-matrix", "Parameters (22):", "\"Train Model\" - Trains the Support Vector Machine",
                             "layout      combo: 0=\"Incremental\", 1=\"One shot\"", "UpperBound  kernel/double"})
        EXPECT_NE(result.output.find(line), std::string::npos) << line << "\n" << result.output;
}

TEST_F(Tools, InspectDescribesHostBlocksFromTheirInstances) {
    const Result source = mrv_inspect("host.csv_source");
    ASSERT_EQ(source.status, 0) << source.output;
    EXPECT_NE(source.output.find("Block class host.csv_source (host block)\n"), std::string::npos) << source.output;
    EXPECT_NE(source.output.find("datatypes    double-matrix, double, int, bool (\"datatype\" in the patch; "
                                 "double-matrix when omitted, as shown below)"),
              std::string::npos)
        << source.output;
    EXPECT_NE(source.output.find("    Mode  kernel/string\n      \"Mode\" - \"row\": one row per tick;"), std::string::npos);
    EXPECT_NE(source.output.find("      value       \"row\"\n"), std::string::npos);

    const Result pick = mrv_inspect(std::string(MRV_PLUGIN) + " host.pick");
    ASSERT_EQ(pick.status, 0) << pick.output;
    EXPECT_NE(pick.output.find("    Input  kernel/double-matrix  required, drives execution\n"), std::string::npos)
        << pick.output;
    EXPECT_NE(pick.output.find("    Output  kernel/double\n"), std::string::npos);
    EXPECT_NE(pick.output.find("    Row  kernel/int\n"), std::string::npos);

    const Result all = mrv_inspect("--host");
    ASSERT_EQ(all.status, 0) << all.output;
    for (const char* id : {"host.csv_source", "host.constant", "host.pick", "host.csv_sink", "host.print",
                           "host.image_sink", "host.plot_sink"})
        EXPECT_NE(all.output.find(std::string("Block class ") + id + " (host block)\n"), std::string::npos) << id;
    EXPECT_NE(all.output.find("Host blocks (9):\n"), std::string::npos);
    EXPECT_NE(all.output.find("    X  kernel/double-matrix  optional\n"), std::string::npos);
    EXPECT_NE(all.output.find("    EveryTicks  kernel/int\n"), std::string::npos);
    EXPECT_NE(all.output.find("datatypes    double-matrix, int-matrix, labeled_set"), std::string::npos);

    EXPECT_EQ(mrv_inspect(std::string("--host ") + MRV_PLUGIN).status, 2);
    const Result no_library = mrv_inspect("/nowhere/libMrvML.so host.pick");
    EXPECT_EQ(no_library.status, 1);
    EXPECT_NE(no_library.output.find("cannot load /nowhere/libMrvML.so"), std::string::npos);
}

TEST_F(Tools, LibraryExportsOnlyItsEntryPointsAndInterfaceTypes) {
    const Result symbols = run(std::string("nm -D --defined-only ") + MRV_PLUGIN);
    ASSERT_EQ(symbols.status, 0) << symbols.output;
    int entry_points = 0;
    for (const auto& line : lines_of(symbols.output)) {
        const std::string name = line.substr(line.rfind(' ') + 1);
        if (name.rfind("MrvUserDll_", 0) == 0) {
            ++entry_points;
            continue;
        }
        // Type information of SDK interfaces (Mrv::I...), which exceptions need.
        const bool interface_type = (name.rfind("_ZTIN3Mrv", 0) == 0 || name.rfind("_ZTSN3Mrv", 0) == 0) &&
                                    name.find('I', 9) != std::string::npos;
        EXPECT_TRUE(interface_type) << "exported: " << name;
        const Result demangled = run("echo " + name + " | c++filt");
        EXPECT_NE(demangled.output.find("for Mrv::I"), std::string::npos) << demangled.output;
    }
    EXPECT_EQ(entry_points, 6);
}

// ---- the Kohonen map example ---------------------------------------------------

// The width and height a PNG file's header gives, or 0, 0 for a file that
// is not one.
std::pair<int, int> png_size(const fs::path& file) {
    const std::string bytes = read_file(file);
    if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return {0, 0};
    auto word = [&](std::size_t at) {
        int value = 0;
        for (std::size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
        return value;
    };
    return {word(16), word(20)};
}

class KohonenExample : public Tools {
protected:
    // The example, reading the shipped data and writing into this test's folder.
    nlohmann::json som_patch() {
        nlohmann::json patch = nlohmann::json::parse(read_file(fs::path(MRV_EXAMPLES) / "iris-som.json"));
        patch["blocks"][0]["parameters"]["File"] = (fs::path(MRV_EXAMPLES) / "data" / "iris-som.csv").string();
        patch["blocks"][2]["parameters"]["File"] = "nodes.csv";
        patch["blocks"][3]["parameters"]["File"] = "classes.csv";
        patch["blocks"][4]["parameters"]["File"] = "classes.png";
        patch["blocks"][5]["parameters"]["File"] = "weights.png";
        return patch;
    }
    // The value columns of a sink's lines, the tick dropped.
    std::vector<std::string> values_of(const std::string& file) {
        std::vector<std::string> values;
        for (const auto& line : lines_of(read_file(folder / file))) values.push_back(line.substr(line.find(',') + 1));
        return values;
    }
    static nlohmann::json& som_parameters(nlohmann::json& patch) { return patch["blocks"][1]["parameters"]; }
};

TEST_F(KohonenExample, TrainsOnIrisAndItsClassesFollowTheSpecies) {
    const Result result = mrv_run(write_patch("som.json", som_patch()).string() + " --save " + (folder / "trained.json").string());
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("[message] som: KohonenMap: input vector includes class information.\n"), std::string::npos)
        << result.output;
    const auto classes = values_of("classes.csv"), nodes = values_of("nodes.csv");
    ASSERT_EQ(classes.size(), 1650u);
    ASSERT_EQ(nodes.size(), 1650u);
    // The last 150 rows are the flowers in file order, 50 of each species:
    // the counts docs/examples.md gives, and no -1 among them.
    std::vector<int> agree(3, 0);
    for (int i = 0; i < 150; ++i) {
        const std::string& found = classes[1500 + static_cast<std::size_t>(i)];
        agree[static_cast<std::size_t>(i / 50)] += found == std::to_string(1 + i / 50);
        EXPECT_NE(found, "-1") << i;
    }
    EXPECT_EQ(agree, (std::vector<int>{50, 49, 48}));
    const nlohmann::json saved = nlohmann::json::parse(read_file(folder / "trained.json"));
    // The picture's grey nodes: eight no flower reached, one real tie.
    const auto& counts = saved["blocks"][1]["parameters"]["KohonenMapParameterClassMatrix"];
    int empty = 0, tied = 0;
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) {
            std::vector<double> node;
            for (int k = 0; k < 3; ++k) node.push_back(counts[8 * k + r][c].get<double>());
            const double top = *std::max_element(node.begin(), node.end());
            empty += top == 0;
            tied += top > 0 && std::count(node.begin(), node.end(), top) > 1;
        }
    EXPECT_EQ(empty, 8);
    EXPECT_EQ(tied, 1);
    EXPECT_EQ(saved["blocks"][1]["parameters"]["KohonenMapParameterStatus"], 1);  // running
    EXPECT_EQ(saved["blocks"][1]["parameters"]["KohonenMapParameterMatrix"].size(), 32u);  // 8 rows x 4 weights
    EXPECT_EQ(saved["blocks"][1]["parameters"]["KohonenMapParameterClassMatrix"].size(), 24u);
    // One picture of the dominant species per node, one of the four weight
    // planes side by side (wider).
    const auto classes_size = png_size(folder / "classes.png"), weights_size = png_size(folder / "weights.png");
    EXPECT_GT(classes_size.first, 0);
    EXPECT_GT(weights_size.first, 2 * classes_size.first);
}

// Save, reload in running state, save again: the map and the histograms
// come back bit for bit, and so does every output row.
TEST_F(KohonenExample, SavedMapReloadsWithIdenticalOutputs) {
    ASSERT_EQ(mrv_run(write_patch("som.json", som_patch()).string() + " --quiet --save " + (folder / "first.json").string()).status, 0);
    const auto trained_nodes = values_of("nodes.csv");

    // The trained patch on the 150 flowers, without the class column, so
    // that the histograms stay as saved.
    nlohmann::json first = nlohmann::json::parse(read_file(folder / "first.json"));
    first["blocks"][0]["parameters"]["File"] = "data/iris.csv";
    first["blocks"][0]["parameters"]["Columns"] = "0-3";
    const Result reloaded = mrv_run(write_patch("first.json", first).string() + " --save " + (folder / "second.json").string());
    ASSERT_EQ(reloaded.status, 0) << reloaded.output;
    EXPECT_NE(reloaded.output.find("does not include class information"), std::string::npos);
    const auto nodes = values_of("nodes.csv"), classes = values_of("classes.csv");
    ASSERT_EQ(nodes.size(), 150u);
    // Running does not move the map: the same nodes as after training.
    EXPECT_EQ(nodes, std::vector<std::string>(trained_nodes.end() - 150, trained_nodes.end()));

    nlohmann::json second = nlohmann::json::parse(read_file(folder / "second.json"));
    EXPECT_EQ(som_parameters(second)["KohonenMapParameterMatrix"], som_parameters(first)["KohonenMapParameterMatrix"]);
    EXPECT_EQ(som_parameters(second)["KohonenMapParameterClassMatrix"],
              som_parameters(first)["KohonenMapParameterClassMatrix"]);
    ASSERT_EQ(mrv_run((folder / "second.json").string() + " --quiet").status, 0);
    EXPECT_EQ(values_of("nodes.csv"), nodes);
    EXPECT_EQ(values_of("classes.csv"), classes);

    // A saved map of the wrong shape is reported, the run goes on.
    som_parameters(second)["KohonenMapParameterMatrix"] = {{1.0, 2.0}, {3.0, 4.0}};
    for (auto& parameter : second["blocks"][1]["saved"]["parameters"])
        if (parameter["id"] == "KohonenMapParameterMatrix") parameter["value"] = {{1.0, 2.0}, {3.0, 4.0}};
    const Result broken = mrv_run(write_patch("broken.json", second).string());
    EXPECT_EQ(broken.status, 1) << broken.output;
    EXPECT_NE(broken.output.find("[error] som: KohonenMap: SOM dimensions do not correspond to parameter or output matrix "
                                 "dimensions."),
              std::string::npos)
        << broken.output;
    EXPECT_EQ(values_of("nodes.csv").size(), 150u);
}

}  // namespace

namespace {

// The sequence example as a user runs it, writing into the test's folder:
// per-species histograms, ten means and the stabilized species label.
TEST_F(Tools, SequenceExampleWritesHistogramsMeansAndSteadyLabels) {
    nlohmann::json patch = nlohmann::json::parse(read_file(fs::path(MRV_EXAMPLES) / "iris-sequences.json"));
    for (auto& block : patch["blocks"])
        if (block["class"] == "host.csv_sink") block["parameters"]["File"] = block["name"].get<std::string>() + ".csv";
        else if (block["class"] == "host.plot_sink") block["parameters"]["File"] = "histogram.png";
    const Result result = mrv_run(write_patch("sequences.json", patch).string());
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(lines_of(read_file(folder / "setosa.csv")),
              std::vector<std::string>{"151,24,26,0,0,0,0,0,0,0,0,0,0"});
    EXPECT_EQ(lines_of(read_file(folder / "versicolor.csv")),
              std::vector<std::string>{"151,0,0,0,0,3,8,18,19,2,0,0,0"});
    EXPECT_EQ(lines_of(read_file(folder / "virginica.csv")),
              std::vector<std::string>{"151,0,0,0,0,0,0,0,6,16,17,7,4"});
    // Tick, channel, rate, then the mean of each run of 15 flowers; the
    // label is given by name in the patch.
    const auto means = lines_of(read_file(folder / "means.csv"));
    ASSERT_EQ(means.size(), 1u);
    std::vector<double> fields;
    std::istringstream line(means[0]);
    for (std::string field; std::getline(line, field, ',');) fields.push_back(std::stod(field));
    const std::vector<double> expected{151, 0, 30, 1.42, 1.5267, 1.44, 3.4, 4.2733, 4.3267, 4.58, 5.6467, 5.5867, 5.38};
    ASSERT_EQ(fields.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(fields[i], expected[i], 1e-4) << i;
    const auto labels = lines_of(read_file(folder / "steady.csv"));
    ASSERT_EQ(labels.size(), 150u);
    EXPECT_EQ(labels[49], "50,-1");  // setosa's 0 shares the starting places' count
    EXPECT_EQ(labels[56], "57,-1");
    EXPECT_EQ(labels[57], "58,1");
    EXPECT_EQ(labels[101], "102,1");
    EXPECT_EQ(labels[102], "103,-1");
    EXPECT_EQ(labels[107], "108,2");
    EXPECT_EQ(labels[149], "150,2");
    EXPECT_EQ(png_size(folder / "histogram.png"), std::make_pair(640, 400));
}

// CSV columns read as scalars drive catalog blocks, and a sink writes every
// datatype the catalog outputs: int, double, double-matrix, temporal data,
// a labelled set and a 2-D point.
TEST_F(Tools, ScalarColumnsDriveCatalogBlocksAndEveryOutputDatatypeIsWritten) {
    const nlohmann::json patch = {
        {"plugins", {"libMrvML.so"}},
        {"blocks",
         {{{"name", "species"}, {"class", "host.csv_source"}, {"datatype", "double"},
           {"parameters", {{"File", "data/iris.csv"}, {"HeaderRows", 1}, {"Columns", "4"}}}},
          {{"name", "petal"}, {"class", "host.csv_source"}, {"datatype", "double"},
           {"parameters", {{"File", "data/iris.csv"}, {"HeaderRows", 1}, {"Columns", "2"}}}},
          {{"name", "rows"}, {"class", "host.csv_source"},
           {"parameters", {{"File", "data/iris.csv"}, {"HeaderRows", 1}, {"Columns", "0-3"}}}},
          {{"name", "stable"}, {"class", "Stabilizer"}, {"parameters", {{"NValues", 5}, {"Threshold", 60.0}}}},
          {{"name", "sub"}, {"class", "SubSampler"}, {"parameters", {{"Number Of Samples", 3}}}},
          {{"name", "som"}, {"class", "kohonenmap"},
           {"parameters", {{"KohonenMapParameterRows", 2}, {"KohonenMapParameterCols", 2}}}},
          {{"name", "recognized"}, {"class", "host.csv_sink"}, {"datatype", "int"}, {"parameters", {{"File", "int.csv"}}}},
          {{"name", "value"}, {"class", "host.csv_sink"}, {"datatype", "double"}, {"parameters", {{"File", "double.csv"}}}},
          {{"name", "window"}, {"class", "host.csv_sink"}, {"datatype", "double-matrix"},
           {"parameters", {{"File", "matrix.csv"}}}},
          {{"name", "samples"}, {"class", "host.csv_sink"}, {"datatype", "temporal_data"},
           {"parameters", {{"File", "temporal.csv"}}}},
          {{"name", "map"}, {"class", "host.csv_sink"}, {"datatype", "labeled_set"}, {"parameters", {{"File", "set.csv"}}}},
          {{"name", "node"}, {"class", "host.csv_sink"}, {"datatype", "point_2d_int"},
           {"parameters", {{"File", "point.csv"}}}}}},
        {"links",
         {{{"from", "species.Output"}, {"to", "stable.InputValue"}},
          {{"from", "petal.Output"}, {"to", "sub.inputValue"}},
          {{"from", "rows.Output"}, {"to", "som.KohonenMapInput"}},
          {{"from", "stable.Recognized"}, {"to", "recognized.Input"}},
          {{"from", "stable.OutputValue"}, {"to", "value.Input"}},
          {{"from", "stable.buffer"}, {"to", "window.Input"}},
          {{"from", "sub.OutputSequence"}, {"to", "samples.Input"}},
          {{"from", "som.KohonenMapOutputMap"}, {"to", "map.Input"}},
          {{"from", "som.KohonenMapOutputPoint"}, {"to", "node.Input"}}}},
        {"events",
         {{{"at", "end"}, {"block", "sub"}, {"fire", "Generate"}},
          {{"at", "end"}, {"block", "som"}, {"fire", "KohonenMapParameterProvideMap"}}}},
        {"run", {{"until", "exhausted"}}}};
    const Result result = mrv_run(write_patch("every.json", patch).string());
    ASSERT_EQ(result.status, 0) << result.output;
    // One line per flower for the per-tick outputs.
    EXPECT_EQ(lines_of(read_file(folder / "int.csv")).size(), 150u);
    EXPECT_EQ(lines_of(read_file(folder / "double.csv")).size(), 150u);
    EXPECT_EQ(lines_of(read_file(folder / "point.csv")).size(), 150u);
    const auto windows = lines_of(read_file(folder / "matrix.csv"));
    ASSERT_FALSE(windows.empty());
    EXPECT_EQ(std::count(windows.back().begin(), windows.back().end(), ','), 5) << windows.back();
    // The last flower is a virginica (2): the window holds five of them.
    EXPECT_EQ(lines_of(read_file(folder / "double.csv")).back(), "150,2");
    const auto samples = lines_of(read_file(folder / "temporal.csv"));
    ASSERT_EQ(samples.size(), 1u);  // one channel: tick, channel, rate, three means
    EXPECT_EQ(std::count(samples[0].begin(), samples[0].end(), ','), 5) << samples[0];
    // The map, every tick: one line per weight plane of the 2 x 2 map,
    // tick, plane name, then the plane's four weights.
    const auto planes = lines_of(read_file(folder / "set.csv"));
    ASSERT_EQ(planes.size(), 4u * 150u);
    EXPECT_EQ(planes.back().rfind("150,", 0), 0u) << planes.back();
    EXPECT_EQ(std::count(planes.back().begin(), planes.back().end(), ','), 5) << planes.back();
}

// The sequence blocks check their combo layouts as they restore: the saved
// patch carries the layouts, so it reloads without a fresh declaration and
// writes the same histograms.
TEST_F(Tools, SavedSequencePatchReloadsWithItsLayouts) {
    nlohmann::json patch = nlohmann::json::parse(read_file(fs::path(MRV_EXAMPLES) / "iris-sequences.json"));
    for (auto& block : patch["blocks"])
        if (block["class"] == "host.csv_sink") block["parameters"]["File"] = block["name"].get<std::string>() + ".csv";
        else if (block["class"] == "host.plot_sink") block["parameters"]["File"] = "histogram.png";
    const fs::path saved = folder / "saved.json";
    ASSERT_EQ(mrv_run(write_patch("sequences.json", patch).string() + " --save " + saved.string()).status, 0);
    const std::string first = read_file(folder / "setosa.csv");
    const nlohmann::json document = nlohmann::json::parse(read_file(saved));
    bool has_combo = false;
    for (const auto& block : document["blocks"])
        if (block["class"] == "SubSampler")
            has_combo = block["saved"]["layouts"]["parameters"]["SamplingMode"]["items"].size() == 5;
    EXPECT_TRUE(has_combo);
    const Result again = mrv_run(saved.string());
    ASSERT_EQ(again.status, 0) << again.output;
    EXPECT_EQ(again.output.find("[fatal]"), std::string::npos) << again.output;
    EXPECT_EQ(read_file(folder / "setosa.csv"), first);
}

// A classifier with three distributions scoring a value that changes at
// ticks 2 to 4 and is back to its first value at tick 5 (so that the saved
// patch starts alike), each output written to its own file.
nlohmann::json three_distribution_patch() {
    nlohmann::json patch = {
        {"plugins", {"libMrvML.so"}},
        {"blocks",
         {{{"name", "x"}, {"class", "host.constant"}, {"datatype", "double"}, {"parameters", {{"Value", 0.2}}}},
          {{"name", "score"},
           {"class", "probabilisticclassifier"},
           {"parameters",
            {{"raritynumberinputid", 3},
             {"classifiermatrixparameter", {{0, 0, 0.5, 0.1}, {1, 0, 0.5, 10}, {1, 1, 0.4, 4}}}}}}}},
        {"links", {{{"from", "x.Output"}, {"to", "score.classifierinput"}}}},
        {"events", nlohmann::json::array()},
        {"run", {{"ticks", 6}}}};
    const std::vector<std::string> outputs = {"rarityoutput_i", "rarityoutput_ii", "rarityoutput_iii"};
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const std::string sink = "out" + std::to_string(i);
        patch["blocks"].push_back({{"name", sink},
                                   {"class", "host.csv_sink"},
                                   {"datatype", "double"},
                                   {"parameters", {{"File", sink + ".csv"}}}});
        patch["links"].push_back({{"from", "score." + outputs[i]}, {"to", sink + ".Input"}});
    }
    for (int tick = 2; tick <= 5; ++tick)
        patch["events"].push_back({{"at", tick}, {"block", "x"}, {"set", "Value"}, {"value", tick < 5 ? 0.15 * tick : 0.2}});
    return patch;
}

TEST_F(Tools, ClassifierWithThreeOutputsIsRestoredFromItsSave) {
    const fs::path saved = folder / "saved.json";
    const Result first = mrv_run(write_patch("three.json", three_distribution_patch()).string() + " --save " + saved.string());
    ASSERT_EQ(first.status, 0) << first.output;
    std::vector<std::string> before;
    for (int i = 0; i < 3; ++i) before.push_back(read_file(folder / ("out" + std::to_string(i) + ".csv")));
    EXPECT_EQ(lines_of(before[0]).size(), 5u);
    EXPECT_EQ(lines_of(before[0])[0], "1,0.011108996538242316");  // exp(-4.5): 3 deviations below the bell

    const nlohmann::json document = nlohmann::json::parse(read_file(saved));
    const nlohmann::json& block = document["blocks"][1];
    ASSERT_EQ(block["saved"]["outputs"].size(), 3u);
    EXPECT_EQ(block["saved"]["outputs"][2]["id"], "rarityoutput_iii");
    EXPECT_EQ(block["parameters"]["classifiermatrixparameter"][2][3], 4.0);

    // The reload declares nothing afresh and scores value for value alike.
    for (int i = 0; i < 3; ++i) fs::remove(folder / ("out" + std::to_string(i) + ".csv"));
    const Result second = mrv_run(saved.string());
    ASSERT_EQ(second.status, 0) << second.output;
    EXPECT_EQ(second.output.find("[fatal]"), std::string::npos) << second.output;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(read_file(folder / ("out" + std::to_string(i) + ".csv")), before[i]) << i;
}

TEST_F(Tools, DecisionExampleScoresPetalsAndVotesEveryTenFlowers) {
    nlohmann::json patch = nlohmann::json::parse(read_file(fs::path(MRV_EXAMPLES) / "iris-decision.json"));
    for (auto& block : patch["blocks"])
        if (block["class"] == "host.csv_sink") block["parameters"]["File"] = block["name"].get<std::string>() + ".csv";
    const Result result = mrv_run(write_patch("decision.json", patch).string());
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("mrv-run: ok: 150 ticks, 8 blocks, 0 errors, 0 warnings"), std::string::npos)
        << result.output;
    // Flower 1 has petals of 1.4 cm: 0.36 deviations from the setosa mean.
    const auto setosa = lines_of(read_file(folder / "setosa.csv"));
    ASSERT_EQ(setosa.size(), 150u);
    EXPECT_NEAR(std::stod(setosa[0].substr(2)), std::exp(-0.062 * 0.062 / (2 * 0.174 * 0.174)), 1e-12);
    EXPECT_EQ(lines_of(read_file(folder / "virginica.csv")).size(), 150u);
    std::vector<std::string> votes;
    for (int tick = 10; tick <= 150; tick += 10)
        votes.push_back(std::to_string(tick) + (tick <= 100 ? ",0,0" : ",1,1"));
    EXPECT_EQ(lines_of(read_file(folder / "answers.csv")), votes);
    const auto certainty = lines_of(read_file(folder / "sure.csv"));
    ASSERT_EQ(certainty.size(), 15u);
    EXPECT_EQ(certainty[14], "150,1");
}

}  // namespace
