// The patch engine's scheduling rules, driven directly.
#include <gtest/gtest.h>

#include "common/live_objects_test.h"

#include "host/live_objects.h"
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "host/datatypes.h"
#include "host/patch.h"

namespace {

using mrvhost::Patch;
using mrvhost::ScheduledEvent;
using nlohmann::json;

// What a patch operation throws, or "" when it does not.
template <class Operation>
std::string failure_of(Operation&& operation) {
    try {
        operation();
    } catch (const mrvhost::PatchError& error) {
        return error.what();
    }
    return "";
}

class PatchEngine : public LiveObjectsTest {
protected:
    void ReleaseHostObjects() override { patch.reset(); }
    // constant vector -> rescale <- constant ranges, in a scrambled file order.
    void build(bool vector_first) {
        patch = std::make_unique<Patch>();
        patch->add_plugin(MRV_PLUGIN);
        if (!vector_first) patch->add_block("rescale", "VectorRescaler");
        patch->add_block("vector", "host.constant", "double-matrix");
        patch->add_block("ranges", "host.constant", "double-matrix");
        if (vector_first) patch->add_block("rescale", "VectorRescaler");
        patch->set_parameter("vector", "Value", json::parse("[[0, 5, 10]]"));
        patch->set_parameter("ranges", "Value", json::parse("[[0, 10], [0, 10], [0, 10]]"));
        patch->link("vector", "Output", "rescale", "InputVector");
        patch->link("ranges", "Output", "rescale", "InputRanges");
    }
    std::vector<double> output() {
        auto* matrix = Mrv::interface_cast<Mrv::IDoubleMatrix>(
            patch->node("rescale").signature().find_output("OutputVector")->GetDatatype());
        return std::vector<double>(matrix->GetReadPointer(), matrix->GetReadPointer() + matrix->GetWidth());
    }

    std::unique_ptr<Patch> patch;
};

TEST_F(PatchEngine, UpstreamBlocksRunFirstWhateverTheFileOrder) {
    build(false);
    ASSERT_TRUE(patch->start());
    patch->tick();
    EXPECT_EQ(output(), (std::vector<double>{-1, 0, 1}));
}

TEST_F(PatchEngine, BlockRunsOnlyForANewerTimeStamp) {
    build(true);
    ASSERT_TRUE(patch->start());
    patch->run(5);
    EXPECT_EQ(patch->node("rescale").executions, 1);
    EXPECT_EQ(patch->node("vector").executions, 1);
    // A changed constant asks for an execution, and its new value drives the block.
    patch->set_parameter("vector", "Value", json::parse("[[10, 10, 0]]"));
    patch->run(3);
    EXPECT_EQ(patch->node("vector").executions, 2);
    EXPECT_EQ(patch->node("rescale").executions, 2);
    EXPECT_EQ(output(), (std::vector<double>{1, 1, -1}));
    // The ranges do not drive execution: a new ranges value alone runs nothing.
    patch->set_parameter("ranges", "Value", json::parse("[[0, 20], [0, 20], [0, 20]]"));
    patch->run(2);
    EXPECT_EQ(patch->node("rescale").executions, 2);
}

// A refusal while running says why: the block's own reason, or that the
// parameter is fixed while the patch runs.
TEST_F(PatchEngine, RunParametersWhileRunningFollowTheirPermissions) {
    build(true);
    patch->add_block("train", "SVMTrain");
    patch->set_parameter("train", "EnableLog", false);
    patch->link("vector", "Output", "train", "InputMatrix");
    ASSERT_TRUE(patch->start());
    patch->tick();
    patch->set_parameter("rescale", "OutputHighBound", 2.0);
    EXPECT_EQ(failure_of([&] { patch->set_parameter("rescale", "OutputHighBound", -5.0); }),
              "block \"rescale\", parameter \"OutputHighBound\": the block refused -5.0: CVectorRescaler::"
              "OnChangingParameter -- The upper bound is lower than the lower bound. The old values will be kept.");
    EXPECT_EQ(failure_of([&] { patch->set_parameter("train", "ScaleValues", false); }),
              "block \"train\", parameter \"ScaleValues\": the block refused false: it may not change while the "
              "patch runs");
    patch->stop();
    patch->close();
}

TEST_F(PatchEngine, PacedRunsTickAtAFixedPeriodFromTheStart) {
    build(true);
    patch->schedule({0, "rescale", "OutputHighBound", 2.0, ""});
    std::vector<std::chrono::steady_clock::time_point> due;
    patch->set_period(std::chrono::milliseconds(25), [&](auto when) { due.push_back(when); });
    ASSERT_TRUE(patch->start());
    patch->run(3);
    // Three ticks and the one that answers the end event.
    ASSERT_EQ(due.size(), 4u);
    for (std::size_t k = 0; k < due.size(); ++k) EXPECT_EQ(due[k] - due[0], std::chrono::milliseconds(25 * k));
    patch->set_period(std::chrono::milliseconds(0), [&](auto when) { due.push_back(when); });
    patch->run(2);
    EXPECT_EQ(due.size(), 4u);
    EXPECT_EQ(patch->ticks_done(), 7);
}

TEST_F(PatchEngine, EventsAreCheckedBeforeTheyAreKept) {
    build(true);
    patch->add_block("go", "host.constant", "trigger");
    const std::vector<std::pair<ScheduledEvent, std::string>> cases = {
        {{3, "rescale", "OutputHighBound", "high", ""},
         "block \"rescale\", parameter \"OutputHighBound\": expected a number, not \"high\""},
        {{3, "ranges", "Value", json::parse("[[1, 2], [3]]"), ""},
         "block \"ranges\", parameter \"Value\": matrix rows differ in length"},
        {{3, "rescale", "OutputHighBond", 1.0, ""},
         "block \"rescale\" has no parameter \"OutputHighBond\" (did you mean \"OutputHighBound\"?)"},
        {{3, "nobody", "Gain", 1.0, ""}, "no block \"nobody\" (the blocks are \"vector\", \"ranges\", \"rescale\" and \"go\")"},
        {{0, "rescale", "OutputHighBound", nullptr, ""},
         "\"OutputHighBound\" of block \"rescale\" is not a trigger (there are no triggers)"},
        {{0, "go", "Value", 1, ""}, "\"Value\" of block \"go\" is a trigger: fire it"},
    };
    for (const auto& [event, message] : cases) EXPECT_EQ(failure_of([&] { patch->schedule(event); }), message);
    EXPECT_TRUE(patch->events().empty());
    patch->schedule({0, "go", "Value", nullptr, ""});
    EXPECT_EQ(patch->events().size(), 1u);
}

TEST_F(PatchEngine, AnEventTheBlockRefusesIsReportedNamingTheEvent) {
    build(true);
    patch->schedule({2, "rescale", "OutputLowBound", 5.0, "run.json: events[0]"});
    ASSERT_TRUE(patch->start());
    patch->run(3);
    EXPECT_EQ(patch->ticks_done(), 3);
    const auto& heard = patch->kernel().sink().events();
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.back().instance_name, "rescale");
    EXPECT_EQ(heard.back().level, Mrv::LevelError);
    EXPECT_EQ(heard.back().text,
              "run.json: events[0]: block \"rescale\", parameter \"OutputLowBound\": the block refused 5.0: "
              "CVectorRescaler::OnChangingParameter -- The lower bound is greater than the upper bound. The old values "
              "will be kept.\n");
}

// A patch file's values for one block are set together: a bound above the
// other bound's default waits for that bound, and only what the block still
// refuses is reported, with only that refusal's notification.
TEST_F(PatchEngine, BoundsValidTogetherAreSetTogether) {
    struct Case {
        const char* block;
        std::vector<std::pair<std::string, json>> values;
        std::string failure;
        std::vector<std::string> heard;
    };
    const std::vector<Case> cases = {
        {"VectorRescaler", {{"OutputLowBound", 2.0}, {"OutputHighBound", 3.0}}, "", {}},
        {"SVMTrain", {{"LowerBound", 2.0}, {"UpperBound", 3.0}}, "", {}},
        {"SVMTrain", {{"UpperBound", -3.0}, {"LowerBound", -5.0}}, "", {}},
        {"VectorRescaler", {{"OutputLowBound", 5.0}, {"OutputHighBound", 3.0}},
         "block \"b\", parameter \"OutputLowBound\": the block refused 5.0: CVectorRescaler::OnChangingParameter -- "
         "The lower bound is greater than the upper bound. The old values will be kept.",
         {"CVectorRescaler::OnChangingParameter -- The lower bound is greater than the upper bound. The old values will "
          "be kept.\n"}},
    };
    for (const auto& c : cases) {
        patch = std::make_unique<Patch>();
        patch->add_plugin(MRV_PLUGIN);
        patch->add_block("b", c.block);
        EXPECT_EQ(failure_of([&] { patch->set_parameters("b", c.values); }), c.failure) << c.block;
        std::vector<std::string> heard;
        for (const auto& n : patch->kernel().sink().events())
            if (n.kind == mrvhost::Notification::Message) heard.push_back(n.text);
        EXPECT_EQ(heard, c.heard) << c.block;
        for (const auto& [id, value] : c.values) {
            if (!c.failure.empty()) break;
            EXPECT_EQ(mrvhost::value_to_json(*patch->node("b").signature().find_parameter(id)->GetValue()), value) << id;
        }
    }
}

// The host's file blocks, writing and reading in a scratch folder.
class HostBlocks : public LiveObjectsTest {
protected:
    void ReleaseHostObjects() override { patch.reset(); }
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() / ("mrv-host-blocks-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        std::ofstream(folder / "table.csv") << "a;b;c\n1;2;3\n4;5;6\n7;8;9\n";
        patch = std::make_unique<Patch>();
    }
    void TearDown() override {
        LiveObjectsTest::TearDown();
        std::filesystem::remove_all(folder);
    }
    void add(const std::string& name, const std::string& class_id, const std::string& datatype,
             const json& parameters) {
        patch->add_block(name, class_id, datatype, nullptr, folder.string());
        for (const auto& [id, value] : parameters.items()) patch->set_parameter(name, id, value);
    }
    // Runs until the sources are exhausted; the lines of `file`, or the
    // reason the start failed.
    std::vector<std::string> run_and_read(const std::string& file) {
        if (!patch->start()) return {patch->failure()};
        patch->run(0);
        patch->stop();
        return lines(file);
    }
    std::vector<std::string> lines(const std::string& file) {
        std::vector<std::string> lines;
        std::ifstream in(folder / file);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    // source -> sink, both of `datatype`; the sink's lines.
    std::vector<std::string> copy_table(const json& source_parameters, const std::string& datatype = "double-matrix",
                                        const std::string& table = "table.csv") {
        patch = std::make_unique<Patch>();
        add("source", "host.csv_source", datatype, {{"File", table}, {"HeaderRows", 1}});
        for (const auto& [id, value] : source_parameters.items()) patch->set_parameter("source", id, value);
        add("sink", "host.csv_sink", datatype, {{"File", "copy.csv"}});
        patch->link("source", "Output", "sink", "Input");
        return run_and_read("copy.csv");
    }
    std::vector<std::string> errors() const {
        std::vector<std::string> texts;
        for (const auto& n : patch->kernel().sink().events())
            if (n.level >= Mrv::LevelError) texts.push_back(n.instance_name + ": " + n.text);
        return texts;
    }
    std::string table() const { return (folder / "table.csv").string(); }

    std::filesystem::path folder;
    std::unique_ptr<Patch> patch;
};

TEST_F(HostBlocks, RowModeSendsOneRowPerTick) {
    EXPECT_EQ(copy_table(json::object()), (std::vector<std::string>{"1,1,2,3", "2,4,5,6", "3,7,8,9"}));
    EXPECT_EQ(patch->ticks_done(), 3);
    EXPECT_TRUE(patch->sources_exhausted());
}

TEST_F(HostBlocks, WindowAndAllModesAndColumnSelection) {
    EXPECT_EQ(copy_table({{"Mode", "window"}, {"Window", 2}, {"Columns", "0,2"}}),
              (std::vector<std::string>{"1,1,3", "1,4,6", "2,7,9"}));
    EXPECT_EQ(copy_table({{"Mode", "all"}, {"Columns", "1-2"}}), (std::vector<std::string>{"1,2,3", "1,5,6", "1,8,9"}));
    EXPECT_EQ(copy_table({{"Mode", "all"}, {"Rows", 2}}), (std::vector<std::string>{"1,1,2,3", "1,4,5,6"}));
}

TEST_F(HostBlocks, BadSourceSettingsFailAtInit) {
    const std::string start = "block \"source\" failed to initialise: ";
    EXPECT_EQ(copy_table({{"Columns", "5"}}), std::vector<std::string>{start + table() + ":2: bad column list \"5\" among columns 0 to 2"});
    EXPECT_EQ(copy_table({{"Rows", -1}}), std::vector<std::string>{start + "Rows must be from 0"});
    EXPECT_EQ(copy_table({{"Mode", "sideways"}}),
              std::vector<std::string>{start + "unknown Mode \"sideways\" (row, window or all)"});
    // Column lists and windows are checked against the file before anything is allocated.
    EXPECT_EQ(copy_table({{"Columns", "0-2147483647"}}),
              std::vector<std::string>{start + table() + ":2: bad column list \"0-2147483647\" among columns 0 to 2"});
    EXPECT_EQ(copy_table({{"Columns", "1,2147483646-2147483647"}}),
              std::vector<std::string>{start + table() +
                                       ":2: bad column list \"1,2147483646-2147483647\": \"2147483646-2147483647\" is "
                                       "not among columns 0 to 2"});
    EXPECT_EQ(copy_table({{"Columns", "2-1"}}),
              std::vector<std::string>{start + table() + ":2: bad column list \"2-1\" among columns 0 to 2"});
    EXPECT_EQ(copy_table({{"Mode", "window"}, {"Window", 2000000000}}),
              std::vector<std::string>{start + "Window 2000000000 is more than the 3 rows of \"" + table() + "\""});
    EXPECT_EQ(copy_table({{"Mode", "window"}, {"Window", 0}}), std::vector<std::string>{start + "Window must be from 1"});
}

TEST_F(HostBlocks, DataFilesThatCannotBeReadSayWhy) {
    const std::string start = "block \"source\" failed to initialise: cannot open \"";
    std::filesystem::create_directory(folder / "folder");
    EXPECT_EQ(copy_table(json::object(), "double-matrix", "folder"),
              std::vector<std::string>{start + (folder / "folder").string() + "\": it is a directory"});
    EXPECT_EQ(copy_table(json::object(), "double-matrix", "/dev/zero"),
              std::vector<std::string>{start + "/dev/zero\": it is a character device, not a file"});
    EXPECT_EQ(copy_table(json::object(), "double-matrix", "absent.csv"),
              std::vector<std::string>{start + (folder / "absent.csv").string() + "\": No such file or directory"});
    EXPECT_EQ(copy_table(json::object(), "double-matrix", "table.csv/inner"),
              std::vector<std::string>{start + (folder / "table.csv/inner").string() + "\": Not a directory"});
}

TEST_F(HostBlocks, ScalarSourcesSendOneValueOfOneColumnPerRow) {
    std::ofstream(folder / "mixed.csv") << "x,n,flag,label\n1.5,2,true,3.0\n-0.25,-3,0,nan\n1e300,7,FALSE,2.5\n";
    EXPECT_EQ(copy_table({{"File", "mixed.csv"}, {"Columns", "0"}}, "double"),
              (std::vector<std::string>{"1,1.5", "2,-0.25", "3,1e+300"}));
    EXPECT_EQ(copy_table({{"File", "mixed.csv"}, {"Columns", "1"}}, "int"), (std::vector<std::string>{"1,2", "2,-3", "3,7"}));
    EXPECT_EQ(copy_table({{"File", "mixed.csv"}, {"Columns", "2"}}, "bool"),
              (std::vector<std::string>{"1,true", "2,false", "3,false"}));
    std::ofstream(folder / "one.csv") << "v\n4\n5\n";
    EXPECT_EQ(copy_table({{"File", "one.csv"}}, "double"), (std::vector<std::string>{"1,4", "2,5"}));

    const std::string start = "block \"source\" failed to initialise: ";
    const std::string mixed = (folder / "mixed.csv").string();
    EXPECT_EQ(copy_table({{"File", "mixed.csv"}, {"Columns", "3"}}, "int"),
              std::vector<std::string>{start + mixed + ":3: nan is not an int"});
    EXPECT_EQ(copy_table({{"File", "mixed.csv"}, {"Columns", "3"}}, "bool"),
              std::vector<std::string>{start + mixed + ":3: nan is not a bool"});
    std::ofstream(folder / "words.csv") << "x\ntrue\nmaybe\n";
    EXPECT_EQ(copy_table({{"File", "words.csv"}}, "bool"),
              std::vector<std::string>{start + (folder / "words.csv").string() + ":3: \"maybe\" is not a bool"});
    EXPECT_EQ(copy_table({{"File", "mixed.csv"}, {"Columns", "0-1"}}, "double"),
              std::vector<std::string>{start + mixed + ":2: a double source reads one column, not 2 (choose one with Columns)"});
    EXPECT_EQ(copy_table({{"File", "mixed.csv"}, {"Columns", "0"}, {"Mode", "all"}}, "double"),
              std::vector<std::string>{start + "a double source sends one row per tick: Mode must be \"row\""});
}

TEST_F(HostBlocks, PickTakesAnElementOrSomeColumns) {
    add("source", "host.csv_source", "", {{"File", "table.csv"}, {"HeaderRows", 1}, {"Mode", "window"}, {"Window", 2}});
    add("element", "host.pick", "int", {{"Row", 1}, {"Column", 2}});
    add("columns", "host.pick", "double-matrix", {{"Columns", "2,0"}});
    add("elements", "host.csv_sink", "int", {{"File", "elements.csv"}});
    add("narrow", "host.csv_sink", "double-matrix", {{"File", "narrow.csv"}});
    patch->link("source", "Output", "element", "Input");
    patch->link("source", "Output", "columns", "Input");
    patch->link("element", "Output", "elements", "Input");
    patch->link("columns", "Output", "narrow", "Input");
    EXPECT_EQ(run_and_read("narrow.csv"), (std::vector<std::string>{"1,3,1", "1,6,4", "2,9,7"}));
    // The last window holds one row: its element (1, 2) is missing, said once.
    EXPECT_EQ(lines("elements.csv"), std::vector<std::string>{"1,6"});
    EXPECT_EQ(errors(), std::vector<std::string>{"element: Row 1, Column 2 is outside the 1x3 input\n"});
}

struct Written {
    const char* datatype;
    json value;
    std::vector<std::string> lines;
};

TEST_F(HostBlocks, EveryDatatypeACatalogBlockOutputsWritesToCsv) {
    const std::vector<Written> cases = {
        {"double", -2.5, {"1,-2.5"}},
        {"double", "nan", {"1,nan"}},
        {"int", -7, {"1,-7"}},
        {"bool", true, {"1,true"}},
        {"string", "plain", {"1,plain"}},
        {"string", "say \"hi\", then go", {"1,\"say \"\"hi\"\", then go\""}},
        {"string", "", {"1,\"\""}},
        {"int-matrix", json::parse("[[1, 2], [3, -4]]"), {"1,1,2", "1,3,-4"}},
        {"double-matrix", json::parse(R"([[0.5, "-inf"]])"), {"1,0.5,-inf"}},
        {"point_2d_int", json::parse("[3, -4]"), {"1,3,-4"}},
        {"labeled_set", json::parse(R"([{"name": "node a", "matrix": [[1, 2], [3, 4]]}, {"name": "b", "matrix": [[5]]}])"),
         {"1,\"node a\",1,2,3,4", "1,b,5"}},
        {"temporal_data", json::parse(R"({"rate": 30, "channels": [[1, 2, 3], [4, 5, 6.5]]})"),
         {"1,0,30,1,2,3", "1,1,30,4,5,6.5"}},
    };
    for (const auto& c : cases) {
        patch = std::make_unique<Patch>();
        add("value", "host.constant", c.datatype, {{"Value", c.value}});
        add("out", "host.csv_sink", c.datatype, {{"File", "out.csv"}});
        patch->link("value", "Output", "out", "Input");
        ASSERT_TRUE(patch->start()) << c.datatype;
        patch->run(3);  // a constant is sent once
        patch->stop();
        EXPECT_EQ(lines("out.csv"), c.lines) << c.datatype << " " << c.value;
    }
    EXPECT_EQ(failure_of([&] { add("fired", "host.csv_sink", "trigger", json::object()); }),
              "block \"fired\": host.csv_sink carries no datatype \"trigger\" (double-matrix, double, int, bool, "
              "string, int-matrix, labeled_set, point_2d_int, temporal_data)");
}

TEST_F(HostBlocks, EachTicksLinesReachTheFileWhole) {
    add("source", "host.csv_source", "", {{"File", "table.csv"}, {"HeaderRows", 1}});
    add("sink", "host.csv_sink", "", {{"File", "copy.csv"}});
    patch->link("source", "Output", "sink", "Input");
    ASSERT_TRUE(patch->start());
    patch->tick();
    EXPECT_EQ(lines("copy.csv"), std::vector<std::string>{"1,1,2,3"});
    patch->tick();
    EXPECT_EQ(lines("copy.csv"), (std::vector<std::string>{"1,1,2,3", "2,4,5,6"}));
    patch->stop();
    // A paced run writes what it gathered before it waits for each tick.
    std::vector<std::size_t> written;
    patch->set_period(std::chrono::milliseconds(1), [&](auto) { written.push_back(lines("copy.csv").size()); });
    ASSERT_TRUE(patch->start());
    patch->run(0);
    EXPECT_EQ(written, (std::vector<std::size_t>{0, 1, 2}));
}

TEST_F(HostBlocks, AFailedWriteIsAnErrorNamingTheFileOnce) {
    add("source", "host.csv_source", "", {{"File", "table.csv"}, {"HeaderRows", 1}});
    add("sink", "host.csv_sink", "", {{"File", "copy.csv"}});
    patch->link("source", "Output", "sink", "Input");
    // Files may not grow: every write fails, as on a full disk.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit none = old;
    none.rlim_cur = 0;
    ::setrlimit(RLIMIT_FSIZE, &none);
    ASSERT_TRUE(patch->start());
    patch->run(0);
    patch->stop();
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(errors(), std::vector<std::string>{"sink: cannot write \"" + (folder / "copy.csv").string() +
                                                 "\": File too large\n"});
    EXPECT_EQ(patch->progress(), "source: 3 of 3 rows, sink: 0 lines written");
}

// A writer never replaces, empties or waits on what is not a regular file;
// a symbolic link is followed, and stays.
TEST_F(HostBlocks, WritersRefuseATargetThatIsNotAFile) {
    namespace fs = std::filesystem;
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
    const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, (folder / "socket").c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::vector<std::pair<std::string, std::string>> targets = {
        {(folder / "fifo").string(), "it is a pipe, not a file"},
        {(folder / "socket").string(), "it is a socket, not a file"},
    };
    for (const char* sink : {"host.csv_sink", "host.image_sink", "host.plot_sink"})
        for (const auto& [target, reason] : targets) {
            patch = std::make_unique<Patch>();
            add("source", "host.csv_source", "", {{"File", "table.csv"}, {"HeaderRows", 1}});
            add("sink", sink, "", {{"File", target}});
            patch->link("source", "Output", "sink", "Input");
            EXPECT_EQ(run_and_read("none"), std::vector<std::string>{"block \"sink\" failed to initialise: cannot write \"" +
                                                                     target + "\": " + reason})
                << sink;
        }
    ::close(socket);
    EXPECT_EQ(fs::status(folder / "fifo").type(), fs::file_type::fifo);

    for (const char* sink : {"host.csv_sink", "host.image_sink"}) {
        const std::string real = std::string("real-") + sink, link = std::string("link-") + sink;
        std::ofstream(folder / real) << "old\n";
        fs::create_symlink(real, folder / link);
        patch = std::make_unique<Patch>();
        add("source", "host.csv_source", "", {{"File", "table.csv"}, {"HeaderRows", 1}});
        add("sink", sink, "", {{"File", link}});
        patch->link("source", "Output", "sink", "Input");
        EXPECT_NE(run_and_read(real), std::vector<std::string>{"old"}) << sink;
        EXPECT_TRUE(fs::is_symlink(folder / link)) << sink;
    }
}

// The patch's file check: host blocks' files, catalog file-name parameters
// (read or written as their layout says; relative names from the patch's
// folder, as for host blocks), the patch file and the save target.
TEST_F(HostBlocks, OneCheckCoversTheFilesOfEveryBlockAndThePatch) {
    const std::string patch_file = (folder / "run.json").string();
    struct Case {
        const char* name;
        std::function<void()> build;
        std::string failure;
    };
    const std::vector<Case> cases = {
        {"sink over a source", [&] { add("sink", "host.csv_sink", "", {{"File", "./sub/../table.csv"}}); },
         "block \"sink\" (File) would overwrite \"" + table() + "\", which block \"source\" (File) reads"},
        {"two sinks",
         [&] {
             add("sink", "host.csv_sink", "", {{"File", "copy.csv"}});
             add("again", "host.csv_sink", "", {{"File", (folder / "copy.csv").string()}});
         },
         "block \"sink\" (File) and block \"again\" (File) both write \"" + (folder / "copy.csv").string() + "\""},
        {"model over the training data", [&] { add("train", "SVMTrain", "", {{"ModelFileName", "table.csv"}}); },
         "block \"train\" (ModelFileName) would overwrite \"" + table() + "\", which block \"source\" (File) reads"},
        {"sink over a training set",
         [&] {
             patch->set_parameter("source", "File", "other.csv");
             add("z", "Standardize2", "", {{"TrainingSetFile", "table.csv"}});
             add("sink", "host.csv_sink", "", {{"File", "table.csv"}});
         },
         "block \"sink\" (File) would overwrite \"" + table() + "\", which block \"z\" (TrainingSetFile) reads"},
        {"picture over the patch",
         [&] {
             patch->use_file("the patch file", patch_file, false);
             add("picture", "host.image_sink", "", {{"File", "run.json"}});
         },
         "block \"picture\" (File) would overwrite \"" + patch_file + "\", which is the patch file"},
        {"save over a source", [&] { patch->use_file("--save", table(), true); },
         "--save would overwrite \"" + table() + "\", which block \"source\" (File) reads"},
        {"log over the model", [&] { add("train", "SVMTrain", "", {{"ModelFileName", "m.txt"}, {"LogFileName", "m.txt"}}); },
         "block \"train\" (ModelFileName) and block \"train\" (LogFileName) both write \"" + (folder / "m.txt").string() +
             "\""},
        {"two readers",
         [&] {
             add("z", "Standardize2", "", {{"TrainingSetFile", "table.csv"}});
             add("again", "host.csv_source", "", {{"File", table()}});
             add("svm", "SVM", "", {{"ModelFileName", "m.txt"}});
             add("svm2", "SVM", "", {{"ModelFileName", "m.txt"}});
         },
         ""},
    };
    for (const auto& c : cases) {
        patch = std::make_unique<Patch>();
        patch->add_plugin(MRV_PLUGIN);
        add("source", "host.csv_source", "", {{"File", "table.csv"}});
        c.build();
        EXPECT_EQ(failure_of([&] { patch->check_files(); }), c.failure) << c.name;
    }
    EXPECT_EQ(lines("table.csv").size(), 4u);
}

// Every field of a table is a number as written: none left empty between
// separators (blanks alone may run together), none in hexadecimal or beyond
// a double; and a table sent whole fits in memory.
TEST_F(HostBlocks, TableFieldsAreCheckedOneByOne) {
    const std::string t = (folder / "t.csv").string();
    const std::string start = "block \"source\" failed to initialise: " + t;
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"1 2   3\n4 , 5 ;6 \r\n", {"1,1,2,3", "2,4,5,6"}},
        {"1,2\n3\t\n", {start + ":2: column 1 is empty"}},
        {"1,,3\n", {start + ":1: column 1 is empty"}},
        {"1,2\n3 ,  ,4\n", {start + ":2: column 1 is empty"}},
        {"1;2;\n", {start + ":1: column 2 is empty"}},
        {";1;2\n", {start + ":1: column 0 is empty"}},
        {"1\t\t2\n", {start + ":1: column 1 is empty"}},
        // Numbers as strtod reads them, whole: either sign, a point without
        // digits on one side, inf and nan; below the smallest double is zero.
        {"+1.5 -.5 1. +inf -Infinity NaN 1e-400 -1e-400 4.9e-324\n", {"1,1.5,-0.5,1,inf,-inf,nan,0,-0,5e-324"}},
        {"+-1\n", {start + ":1: \"+-1\" is not a number"}},
        {"1,1e\n", {start + ":1: \"1e\" is not a number"}},
        {"1,2\n1e400,2\n", {start + ":2: \"1e400\" is beyond the range of a double"}},
        {"-0x10,2\n", {start + ":1: \"-0x10\" is hexadecimal, not a decimal number"}},
    };
    for (const auto& [text, expected] : cases) {
        std::ofstream(t) << text;
        EXPECT_EQ(copy_table({{"HeaderRows", 0}}, "double-matrix", "t.csv"), expected) << text;
    }
    // Only the whole table is held in memory; a row at a time, any size is read.
    std::filesystem::resize_file(t, (std::uintmax_t(1) << 30) + 1);
    EXPECT_EQ(copy_table({{"Mode", "all"}}, "double-matrix", "t.csv"),
              std::vector<std::string>{"block \"source\" failed to initialise: \"" + t +
                                       "\" holds 1073741825 bytes; a table may hold at most 1 GiB"});
    EXPECT_EQ(copy_table({{"HeaderRows", 0}}, "double-matrix", "t.csv"), cases.back().second);
}

// A table is read as the run goes: one cut short or grown meanwhile is an
// error naming it, and every row sent before is a row of the file as it was.
TEST_F(HostBlocks, ATableThatChangesSizeWhileReadIsAnError) {
    const std::string t = (folder / "t.csv").string();
    for (const std::uintmax_t change : {std::uintmax_t(10), std::uintmax_t(1) << 20}) {
        {
            std::ofstream out(t);
            for (int row = 1; row <= 20000; ++row) out << row << "\n";  // more than one read
        }
        const std::uintmax_t size = std::filesystem::file_size(t);
        patch = std::make_unique<Patch>();
        add("source", "host.csv_source", "double", {{"File", "t.csv"}});
        add("sink", "host.csv_sink", "double", {{"File", "copy.csv"}});
        patch->link("source", "Output", "sink", "Input");
        ASSERT_TRUE(patch->start());
        patch->tick();
        std::filesystem::resize_file(t, change);
        patch->run(0);
        patch->stop();
        EXPECT_EQ(errors(), std::vector<std::string>{"source: \"" + t + "\" changed size while it was read (" +
                                                     std::to_string(size) + " bytes, now " + std::to_string(change) +
                                                     ")\n"});
        const std::vector<std::string> sent = lines("copy.csv");
        EXPECT_LT(sent.size(), 20000u);
        for (const auto& line : sent) EXPECT_EQ(line.substr(0, line.find(',')), line.substr(line.find(',') + 1));
    }
}

TEST_F(HostBlocks, AFailedStartLeavesTheSinksFileAsItWas) {
    std::ofstream(folder / "copy.csv") << "last run\n";
    add("sink", "host.csv_sink", "", {{"File", "copy.csv"}});
    add("source", "host.csv_source", "", {{"File", "table.csv"}, {"Columns", "9"}});
    patch->link("source", "Output", "sink", "Input");
    EXPECT_FALSE(patch->start());
    patch->stop();
    EXPECT_EQ(lines("copy.csv"), std::vector<std::string>{"last run"});
}

}  // namespace
