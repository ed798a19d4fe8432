// The command-line tools as a user runs them: patch files in, CSV files,
// saved patches, messages and exit codes out. The examples' figures are the
// docs tests'; what blocks and host blocks say is tested below this layer.
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <regex>

#include "tool_test.h"

namespace {

namespace fs = std::filesystem;

class Tools : public ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        fs::create_directories(folder / "data");
        fs::copy_file(fs::path(MRV_EXAMPLES) / "data" / "iris.csv", folder / "data" / "iris.csv");
    }
    Result mrv_inspect(const std::string& arguments) { return run(std::string(MRV_INSPECT) + " " + arguments); }
    std::vector<std::string> rescaled() { return lines_of(read_file(folder / "rescaled.csv")); }

    // The iris example (source, ranges, rescale, sink), writing into this test's folder.
    nlohmann::json iris_patch() {
        nlohmann::json patch = nlohmann::json::parse(read_file(fs::path(MRV_EXAMPLES) / "iris-rescale.json"));
        patch["blocks"][3]["parameters"]["File"] = "rescaled.csv";
        return patch;
    }
};

// Saved into another folder, the patch keeps what the run did and names the
// same files from there: the scheduled change (the block restored with the
// bound it ended with), the run settings, the blocks' layouts (a sequence
// block checks its combo layouts as it restores, without a fresh
// declaration) and every relative file name, a host block's or a catalog
// block's, taken from the patch's folder.
TEST_F(Tools, SavedIntoAnotherFolderThePatchRunsOnFromThere) {
    nlohmann::json patch = iris_patch();
    patch["blocks"].push_back({{"name", "petal"}, {"class", "host.pick"}, {"datatype", "double"}, {"parameters", {{"Column", 2}}}});
    patch["blocks"].push_back({{"name", "sub"}, {"class", "SubSampler"}, {"parameters", {{"SamplingMode", "Mean"}}}});
    patch["blocks"].push_back({{"name", "export"}, {"class", "LibSVMSave"}, {"parameters", {{"FileName", "iris.libsvm"}}}});
    patch["links"].push_back({{"from", "iris.Output"}, {"to", "petal.Input"}});
    patch["links"].push_back({{"from", "petal.Output"}, {"to", "sub.inputValue"}});
    patch["links"].push_back({{"from", "iris.Output"}, {"to", "export.InputMatrix"}});
    patch["events"] = {{{"at", 100}, {"block", "rescale"}, {"set", "OutputHighBound"}, {"value", 3.0}}};
    patch["run"] = {{"ticks", 150}, {"period_ms", 1}};
    write_patch("iris.json", patch);
    fs::create_directories(folder / "out" / "deeper");
    const std::string in_folder = "cd " + folder.string() + " && " + MRV_RUN + " ";
    const Result first = run(in_folder + "iris.json --save out/deeper/saved.json");
    ASSERT_EQ(first.status, 0) << first.output;
    EXPECT_HAS(first.output, "mrv-run: ok: 150 ticks, 7 blocks, 0 errors");
    const auto before = rescaled();
    const std::string exported = read_file(folder / "iris.libsvm");
    nlohmann::json document = nlohmann::json::parse(read_file(folder / "out" / "deeper" / "saved.json"));
    EXPECT_EQ(document["blocks"][0]["parameters"]["File"], "../../data/iris.csv");
    EXPECT_EQ(document["blocks"][3]["parameters"]["File"], "../../rescaled.csv");
    EXPECT_EQ(document["blocks"][6]["parameters"]["FileName"], "../../iris.libsvm");
    EXPECT_EQ(document["blocks"][2]["parameters"]["OutputHighBound"], 3.0);
    EXPECT_EQ(document["blocks"][2]["saved"]["parameters"][1]["value"], 3.0);
    EXPECT_EQ(document["blocks"][1]["parameters"]["Value"][3][1], 2.5);
    EXPECT_EQ(document["blocks"][5]["saved"]["layouts"]["parameters"]["SamplingMode"]["items"].size(), 5u);
    EXPECT_EQ(document["run"], patch["run"]);

    document["events"] = nlohmann::json::array();
    write_patch("out/deeper/saved.json", document);
    fs::remove(folder / "iris.libsvm");
    const Result second = run(in_folder + "out/deeper/saved.json");
    ASSERT_EQ(second.status, 0) << second.output;
    EXPECT_EQ(second.output.find("[fatal]"), std::string::npos) << second.output;
    EXPECT_EQ(read_file(folder / "iris.libsvm"), exported);
    const auto after = rescaled();
    ASSERT_EQ(after.size(), 150u);
    EXPECT_EQ(after[149], before[149]);  // both rescaled onto [-1, 3]
    EXPECT_NE(after[0], before[0]);      // the first run began with [-1, 1]
}

// A block that fails Init: its message with level and name, then the
// summary quoting it, and exit code 1. Host blocks' files are named as the
// patch names them, from its folder.
TEST_F(Tools, InitFailuresArePrintedAndStopTheRun) {
    const std::vector<std::tuple<std::string, nlohmann::json, std::string, std::string>> cases = {
        {"/blocks/1/parameters/Value", {{0, 1}, {0, 1}, {0, 1}},  // 3 ranges for 4 features
         "rescale", "CVectorRescaler::Init -- Ranges should be provided as a (4x2) matrix."},
        {"/blocks/0/parameters/File", "data/none.csv", "iris", "cannot open \"data/none.csv\": No such file or directory"},
    };
    for (const auto& [where, value, block, reason] : cases) {
        nlohmann::json patch = iris_patch();
        patch[nlohmann::json::json_pointer(where)] = value;
        const std::string file = write_patch("bad.json", patch);
        const Result result = mrv_run(file);
        EXPECT_EQ(result.status, 1);
        EXPECT_HAS(result.output, "[error] " + block + ": " + reason + "\n");
        EXPECT_HAS(result.output, "mrv-run: " + file + ": block \"" + block + "\" failed to initialise: " + reason +
                                      "; the run is stopped\n");
    }
}

TEST_F(Tools, BadPatchFilesGetAClearErrorAndNoSave) {
    using Spoil = std::function<void(nlohmann::json&)>;
    const std::vector<std::tuple<std::string, Spoil, const char*>> cases = {
        {"unknown-class", [](auto& p) { p["blocks"][2]["class"] = "VectorRescalr"; },
         "blocks[2]: block \"rescale\": no block class \"VectorRescalr\" in the loaded libraries (did you mean "
         "\"VectorRescaler\"?)"},
        {"missing-name", [](auto& p) { p["blocks"][0].erase("name"); }, "blocks[0]: missing \"name\""},
        {"duplicate-name", [](auto& p) { p["blocks"][1]["name"] = "iris"; }, "two blocks are named \"iris\""},
        {"unknown-pin", [](auto& p) { p["links"][0]["to"] = "rescale.Input"; },
         "links[0]: block \"rescale\" has no input \"Input\" (did you mean \"InputVector\" or \"InputRanges\"?)"},
        {"bad-pin-form", [](auto& p) { p["links"][0]["from"] = "iris"; }, "links[0]: \"iris\" is not of the form block.pin"},
        {"datatype-mismatch", [](auto& p) { p["blocks"][3]["datatype"] = "double"; },
         "links[2]: cannot link rescale.OutputVector (kernel/double-matrix) to out.Input (kernel/double): the datatypes "
         "differ"},
        {"outside-domain",
         [](auto& p) { p["blocks"].push_back({{"name", "s"}, {"class", "Stabilizer"}, {"parameters", {{"Threshold", 150}}}}); },
         "blocks[4]: block \"s\", parameter \"Threshold\": 150 is outside its domain (from 0 to 100)"},
        {"misspelt-combo-item",
         [](auto& p) { p["blocks"].push_back({{"name", "t"}, {"class", "SVMTrain"}, {"parameters", {{"SVMType", "c-svc"}}}}); },
         "block \"t\", parameter \"SVMType\": no item \"c-svc\" (did you mean \"C-SVC\"?)"},
        {"cycle",
         [](auto& p) {
             p["blocks"].push_back({{"name", "loop"}, {"class", "VectorRescaler"}});
             p["links"][1] = {{"from", "loop.OutputVector"}, {"to", "rescale.InputRanges"}};
             p["links"].push_back({{"from", "rescale.OutputVector"}, {"to", "loop.InputVector"}});
         },
         "the links form a cycle through blocks rescale, loop"},
        {"unlinked-required", [](auto& p) { p["links"].erase(1); },
         "block \"rescale\": required input \"InputRanges\" is not linked"},
        {"bad-event", [](auto& p) { p["events"] = {{{"at", 0}, {"block", "rescale"}, {"fire", "OutputLowBound"}}}; },
         "events[0]: \"at\" must be a tick number from 1, or \"end\""},
        {"bad-run", [](auto& p) { p["run"] = {{"ticks", -3}}; }, "run: expected {\"ticks\": N}"},
        {"run-period-zero", [](auto& p) { p["run"] = {{"until", "exhausted"}, {"period_ms", 0}}; }, "; \"period_ms\" is 0"},
        {"run-unknown-setting", [](auto& p) { p["run"] = {{"ticks", 5}, {"speed", 2}}; },
         "run: unknown key \"speed\" (the keys are \"ticks\", \"until\" and \"period_ms\")"},
        {"missing-plugin", [](auto& p) { p["plugins"] = {"/nowhere/libOther.so"}; }, "plugins: cannot load /nowhere/libOther.so"},
        {"sink-datatype", [](auto& p) { p["blocks"][3]["datatype"] = "trigger"; },
         "blocks[3]: block \"out\": host.csv_sink carries no datatype \"trigger\""},
        {"misspelt-key", [](auto& p) { p["blocks"][2]["paramaters"] = p["blocks"][2]["parameters"]; },
         "blocks[2]: unknown key \"paramaters\" (did you mean \"parameters\"?)"},
        {"misspelt-value-key",
         [](auto& p) {
             p["blocks"][1]["datatype"] = "temporal_data";
             p["blocks"][1]["parameters"]["Value"] = {{"rate", 1}, {"chanels", {{1}}}, {"channels", {{1}}}};
         },
         "unknown key \"chanels\" (did you mean \"channels\"?)"},
    };
    for (const auto& [name, spoil, expected] : cases) {
        nlohmann::json patch = iris_patch();
        spoil(patch);
        const std::string file = write_patch(name + ".json", patch);
        const Result result = mrv_run(file + " --save " + (folder / "saved.json").string());
        EXPECT_EQ(result.status, 1) << name;
        // The file is named once, at the start of the summary.
        const auto named = result.output.find("mrv-run: " + file + ": ");
        EXPECT_NE(named, std::string::npos) << name << "\n" << result.output;
        EXPECT_EQ(result.output.find(file, named + 10), std::string::npos) << name << "\n" << result.output;
        EXPECT_HAS(result.output, expected) << name;
    }
    EXPECT_FALSE(fs::exists(folder / "saved.json"));
    EXPECT_FALSE(fs::exists(folder / "rescaled.csv"));
}

// Refused before the run, with one short line: what a JSON library would
// take without a word (a key given twice, a NUL inside a string), deep
// nesting, a long value (quoted by its beginning), and a save target that is
// no regular file (or none yet) in a folder that is there, or a file a block
// uses. "@" stands for the test's folder.
TEST_F(Tools, FilesThatCannotBeUsedAreRefusedWithOneLine) {
    fs::create_directory(folder / "folder");
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
    nlohmann::json long_value = iris_patch();
    long_value["blocks"][1]["parameters"]["Value"] = {{1, std::string(100000, 'y')}};
    const std::string iris = iris_patch().dump(), data = read_file(folder / "data" / "iris.csv");
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {R"({"blocks": [], "blocks": []})", "", "the top level: the key \"blocks\" is given twice"},
        {R"({"blocks": [{"name": "a", "class": "host.constant", "parameters": {"Value": 1, "Value": 2}}]})", "",
         "blocks[0].parameters: the key \"Value\" is given twice"},
        {R"({"blocks": [{"name": "a\u0000b", "class": "host.constant"}]})", "",
         "blocks[0].name: a string holds a NUL character"},
        {R"({"plugins": ["x", "lib\u0000.so"], "blocks": []})", "", "plugins[1]: a string holds a NUL character"},
        {R"({"blocks": [{"na\u0000me": "a"}]})", "", "blocks[0]: a string holds a NUL character"},
        {"{\"blocks\": [{\"name\": \"c\", \"class\": \"host.constant\", \"parameters\": {\"Value\": " +
             std::string(100000, '[') + std::string(100000, ']') + "}}]}",
         "", "not a patch: values nest deeper than 100 levels"},
        {long_value.dump(), "",
         "blocks[1]: block \"ranges\", parameter \"Value\": expected a number, not \"" + std::string(39, 'y') + "..."},
        {iris, "@/folder", "cannot write \"@/folder\": it is a directory"},
        {iris, "/dev/full", "cannot write \"/dev/full\": it is a character device, not a file"},
        {iris, "@/fifo", "cannot write \"@/fifo\": it is a pipe, not a file"},
        {iris, "@/nowhere/saved.json", "cannot write \"@/nowhere/saved.json\": the folder \"@/nowhere\" does not exist"},
        {iris, "@/data/iris.csv", "--save would overwrite \"@/data/iris.csv\", which block \"iris\" (File) reads"},
    };
    const auto in_folder = [&](std::string text) {
        for (std::size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, folder.string());
        return text;
    };
    for (const auto& [text, save, message] : cases) {
        const std::string file = write("bad.json", text);
        const Result result = mrv_run(file + (save.empty() ? "" : " --save " + in_folder(save)));
        EXPECT_EQ(result.status, 1) << message;
        EXPECT_EQ(result.output, "mrv-run: " + file + ": " + in_folder(message) + "\n");
    }
    EXPECT_FALSE(fs::exists(folder / "rescaled.csv"));
    EXPECT_EQ(fs::status(folder / "fifo").type(), fs::file_type::fifo);
    EXPECT_EQ(read_file(folder / "data" / "iris.csv"), data);
    const Result invalid = mrv_run(write("broken.json", "{\n  \"blocks\": [\n    {\"name\": }\n]}"));
    EXPECT_HAS(invalid.output, "broken.json: not valid JSON: ");
    EXPECT_HAS(invalid.output, "line 3");
    EXPECT_HAS(mrv_run((folder / "absent.json").string()).output, "absent.json: cannot open the patch file");
    EXPECT_HAS(mrv_run(folder.string()).output, folder.string() + ": cannot open the patch file: it is a directory");
}

// --ticks and --trace-level; each line is handed to the system whole: with
// stdout and stderr in one file the summary comes last, on a line of its own.
TEST_F(Tools, OptionsAndOutputWrittenLineByLine) {
    nlohmann::json patch = iris_patch();
    patch["blocks"][3] = {{"name", "show"}, {"class", "host.print"}, {"datatype", "double-matrix"}};
    patch["links"][2]["to"] = "show.Input";
    const std::string file = write_patch("print.json", patch), out = (folder / "out.txt").string();
    ASSERT_EQ(run(std::string(MRV_RUN) + " " + file + " --ticks 149 --trace-level 3 > " + out).status, 0);
    const auto printed = lines_of(read_file(out));
    EXPECT_NE(std::find(printed.begin(), printed.end(), "Block rescale: method Init starting"), printed.end());
    std::size_t ticks = 0;  // whole lines, in order
    for (const auto& line : printed) ticks += line.rfind("[message] show: tick " + std::to_string(ticks + 1) + ": ", 0) == 0;
    EXPECT_EQ(ticks, 149u);
    EXPECT_EQ(printed.back().rfind("mrv-run: ok: 149 ticks", 0), 0u) << printed.back();
    for (const char* bad : {"99999999999999999999", "0", "-5", "12abc", ""}) {
        const Result result = mrv_run(file + " --ticks '" + bad + "'");
        EXPECT_EQ(result.status, 2) << bad;
        EXPECT_EQ(result.output, "mrv-run: --ticks needs a number from 1 to 9223372036854775807\n") << bad;
    }
    EXPECT_EQ(mrv_run("--frobnicate x.json").status, 2);
}

// mrv-inspect lists the catalog in either language and describes a block
// class from its instance, or as a patch configures it.
TEST_F(Tools, InspectListsAndDescribesBlocks) {
    const std::string plugin = MRV_PLUGIN;
    const std::vector<std::tuple<std::string, int, std::vector<std::string>>> cases = {
        {plugin, 0, {"Identifier   MrvML_5E0C2A91-7D4B-4f3e-A8C6-19B2D4F07E35",
                     "VectorRescaler            Vector Rescaler           Math.Matrix.Operations"}},
        {"--lang 1040 " + plugin, 0, {"Questo blocco riscala il vettore in input sulla base dei range forniti."}},
        {"/nowhere/libMrvML.so host.pick", 1, {"cannot load /nowhere/libMrvML.so"}},
        {"--host " + plugin, 2, {}},
        {plugin + " VectorRescaler", 0,
         {"    InputVector  kernel/double-matrix  required, drives execution\n", "    InputRanges  kernel/double-matrix  required\n",
          "\"Upper bound\" - Upper bound of the rescaled vector", "      value       -1\n",
          "      attributes  visible, may change while running\n"}},
        {plugin + " vectorrescaler", 1, {"no block class \"vectorrescaler\" in the library (did you mean \"VectorRescaler\"?)"}},
        // A block as a patch configures it, with the outputs its parameters add.
        {std::string(MRV_EXAMPLES) + "/iris-decision.json score", 0,
         {"  Outputs (4):\n    rarityoutput_i  kernel/double\n", "    rarityoutput_iiii  kernel/double\n"}},
        {"host.csv_source", 0, {"Block class host.csv_source (host block)\n",
                                "datatypes    double-matrix, double, int, bool (\"datatype\" in the patch; "
                                "double-matrix when omitted, as shown below)"}},
        {"host.nosuch", 1, {"mrv-inspect: there is no host block \"host.nosuch\" (the host blocks are "}},
    };
    for (const auto& [arguments, status, texts] : cases) {
        const Result result = mrv_inspect(arguments);
        EXPECT_EQ(result.status, status) << arguments;
        for (const auto& text : texts) EXPECT_HAS(result.output, text);
    }
    // A map's weights by shape and first values, unless every value is asked for.
    const std::string map = mrv_inspect(plugin + " kohonenmap").output;
    EXPECT_HAS(map, "      value       160 x 40, first values: ");
    EXPECT_LT(lines_of(map).size(), 150u);
    EXPECT_GT(mrv_inspect("--full " + plugin + " kohonenmap").output.size(), map.size() + 12800);
}

// The entry points, and the type information of SDK interfaces (Mrv::I...)
// that exceptions need.
TEST_F(Tools, LibraryExportsOnlyItsEntryPointsAndInterfaceTypes) {
    const Result symbols = run(std::string("nm -D --defined-only ") + MRV_PLUGIN + " | c++filt");
    ASSERT_EQ(symbols.status, 0) << symbols.output;
    const std::regex exported("[0-9a-f]+ [A-Za-z] (MrvUserDll_\\w+|typeinfo (name )?for Mrv::I.*)");
    int entry_points = 0;
    for (const auto& line : lines_of(symbols.output)) {
        EXPECT_TRUE(std::regex_match(line, exported)) << line;
        entry_points += line.find(" MrvUserDll_") != std::string::npos;
    }
    EXPECT_EQ(entry_points, 6);
}

}  // namespace
