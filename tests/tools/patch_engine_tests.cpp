// The patch engine's scheduling rules and the host's file blocks, driven
// directly; mrv-run's own messages and exit codes are the tool tests'.
#include <gtest/gtest.h>

#include "common/files.h"
#include "common/live_objects_test.h"

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "host/datatypes.h"
#include "host/patch.h"

namespace {

namespace fs = std::filesystem;
using mrvhost::Patch;
using mrvhost::ScheduledEvent;
using nlohmann::json;
using Lines = std::vector<std::string>;

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

// A patch and a scratch folder holding a three-row table.
class HostBlocks : public LiveObjectsTest {
protected:
    void ReleaseHostObjects() override { patch.reset(); }
    void SetUp() override {
        folder = fresh_test_folder("mrv-host-blocks");
        std::ofstream(folder / "table.csv") << "a;b;c\n1;2;3\n4;5;6\n7;8;9\n";
        fresh_patch();
    }
    void TearDown() override {
        LiveObjectsTest::TearDown();
        fs::remove_all(folder);
    }
    void fresh_patch() {
        patch = std::make_unique<Patch>();
        patch->add_plugin(MRV_PLUGIN);
    }
    void add(const std::string& name, const std::string& class_id, const std::string& datatype,
             const json& parameters) {
        patch->add_block(name, class_id, datatype, nullptr, folder.string());
        for (const auto& [id, value] : parameters.items()) patch->set_parameter(name, id, value);
    }
    // source -> sink, both of `datatype`, the source reading `table`.
    void source_to_sink(const std::string& datatype = "", const json& source = json::object(),
                        const std::string& sink = "host.csv_sink", const std::string& target = "copy.csv") {
        add("source", "host.csv_source", datatype, {{"File", "table.csv"}, {"HeaderRows", 1}});
        for (const auto& [id, value] : source.items()) patch->set_parameter("source", id, value);
        add("sink", sink, datatype, {{"File", target}});
        patch->link("source", "Output", "sink", "Input");
    }
    // Runs until the sources are exhausted; the lines of `file`, or the
    // reason the start failed.
    Lines run_and_read(const std::string& file) {
        if (!patch->start()) return {patch->failure()};
        patch->run(0);
        patch->stop();
        return lines(file);
    }
    // The sink's lines, or the reason the start failed, which leaves the
    // sink's file as it was.
    Lines copy_table(const json& source, const std::string& datatype = "double-matrix") {
        std::ofstream(folder / "copy.csv") << "last run\n";
        fresh_patch();
        source_to_sink(datatype, source);
        const Lines copied = run_and_read("copy.csv");
        EXPECT_TRUE(patch->failure().empty() || lines("copy.csv") == Lines{"last run"}) << patch->failure();
        return copied;
    }
    Lines lines(const std::string& file) { return lines_of(read_file(folder / file)); }
    Lines errors() const {
        Lines texts;
        for (const auto& n : patch->kernel().sink().events())
            if (n.level >= Mrv::LevelError) texts.push_back(n.instance_name + ": " + n.text);
        return texts;
    }
    // A failed start's reason; "@" in `why` stands for the scratch folder.
    Lines failed(std::string why, const std::string& block = "source") const {
        for (std::size_t at; (at = why.find('@')) != std::string::npos;) why.replace(at, 1, folder.string());
        return {"block \"" + block + "\" failed to initialise: " + why};
    }

    fs::path folder;
    std::unique_ptr<Patch> patch;
};

class PatchEngine : public HostBlocks {
protected:
    // constant vector -> rescale <- constant ranges, the block listed before its inputs.
    void build() {
        patch->add_block("rescale", "VectorRescaler");
        add("vector", "host.constant", "double-matrix", {{"Value", json::parse("[[0, 5, 10]]")}});
        add("ranges", "host.constant", "double-matrix", {{"Value", json::parse("[[0, 10], [0, 10], [0, 10]]")}});
        patch->link("vector", "Output", "rescale", "InputVector");
        patch->link("ranges", "Output", "rescale", "InputRanges");
    }
    json output() {
        return mrvhost::value_to_json(*patch->node("rescale").signature().find_output("OutputVector")->GetDatatype());
    }
};

// Upstream blocks run first whatever the file order; a block runs only for
// a newer time stamp on an input that drives it.
TEST_F(PatchEngine, BlocksRunInLinkOrderForANewerTimeStamp) {
    build();
    ASSERT_TRUE(patch->start());
    patch->tick();
    EXPECT_EQ(output(), json::parse("[[-1, 0, 1]]"));
    patch->run(4);
    EXPECT_EQ(patch->node("rescale").executions, 1);
    EXPECT_EQ(patch->node("vector").executions, 1);
    // A changed constant asks for an execution, and its new value drives the block.
    patch->set_parameter("vector", "Value", json::parse("[[10, 10, 0]]"));
    patch->run(3);
    EXPECT_EQ(patch->node("vector").executions, 2);
    EXPECT_EQ(patch->node("rescale").executions, 2);
    EXPECT_EQ(output(), json::parse("[[1, 1, -1]]"));
    // The ranges do not drive execution: a new ranges value alone runs nothing.
    patch->set_parameter("ranges", "Value", json::parse("[[0, 20], [0, 20], [0, 20]]"));
    patch->run(2);
    EXPECT_EQ(patch->node("rescale").executions, 2);
}

TEST_F(PatchEngine, PacedRunsTickAtAFixedPeriodFromTheStart) {
    build();
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

// Events are checked before they are kept; one refused while the patch
// runs, by the block or because the parameter is fixed while running, is an
// error naming the event, and the run goes on.
TEST_F(PatchEngine, EventsAreCheckedBeforeTheyAreKeptAndRefusalsReported) {
    build();
    patch->add_block("go", "host.constant", "trigger");
    patch->add_block("train", "SVMTrain");
    patch->set_parameter("train", "EnableLog", false);
    patch->link("vector", "Output", "train", "InputMatrix");
    const std::vector<std::pair<ScheduledEvent, std::string>> cases = {
        {{3, "rescale", "OutputHighBound", "high", ""},
         "block \"rescale\", parameter \"OutputHighBound\": expected a number, not \"high\""},
        {{3, "ranges", "Value", json::parse("[[1, 2], [3]]"), ""},
         "block \"ranges\", parameter \"Value\": matrix rows differ in length"},
        {{3, "rescale", "OutputHighBond", 1.0, ""},
         "block \"rescale\" has no parameter \"OutputHighBond\" (did you mean \"OutputHighBound\"?)"},
        {{3, "nobody", "Gain", 1.0, ""}, "no block \"nobody\" (the blocks are \"rescale\", \"vector\", \"ranges\", \"go\" and \"train\")"},
        {{0, "rescale", "OutputHighBound", nullptr, ""},
         "\"OutputHighBound\" of block \"rescale\" is not a trigger (there are no triggers)"},
        {{0, "go", "Value", 1, ""}, "\"Value\" of block \"go\" is a trigger: fire it"},
    };
    for (const auto& [event, message] : cases) EXPECT_EQ(failure_of([&] { patch->schedule(event); }), message);
    EXPECT_TRUE(patch->events().empty());
    patch->schedule({0, "go", "Value", nullptr, ""});
    patch->schedule({2, "rescale", "OutputLowBound", 5.0, "run.json: events[0]"});
    patch->schedule({2, "train", "ScaleValues", false, ""});
    EXPECT_EQ(patch->events().size(), 3u);
    ASSERT_TRUE(patch->start());
    patch->run(3);
    EXPECT_EQ(patch->ticks_done(), 4);  // and the tick that answers the end event
    const std::string reason = "CVectorRescaler::OnChangingParameter -- The lower bound is greater than the upper "
                               "bound. The old values will be kept.\n";
    EXPECT_EQ(errors(), (Lines{"rescale: " + reason,
                               "rescale: run.json: events[0]: block \"rescale\", parameter \"OutputLowBound\": the "
                               "block refused 5.0: " + reason,
                               "train: the event at tick 2: block \"train\", parameter \"ScaleValues\": the block "
                               "refused false: it may not change while the patch runs\n"}));
}

// A patch file's values for one block are set together: a bound above the
// other bound's default waits for that bound, and only what the block still
// refuses is reported, with only that refusal's notification.
TEST_F(PatchEngine, BoundsValidTogetherAreSetTogether) {
    const std::string reason = "CVectorRescaler::OnChangingParameter -- The lower bound is greater than the upper "
                               "bound. The old values will be kept.";
    using Values = std::vector<std::pair<std::string, json>>;
    const std::vector<std::tuple<const char*, Values, std::string, Lines>> cases = {
        {"VectorRescaler", {{"OutputLowBound", 2.0}, {"OutputHighBound", 3.0}}, "", {}},
        {"SVMTrain", {{"LowerBound", 2.0}, {"UpperBound", 3.0}}, "", {}},
        {"SVMTrain", {{"UpperBound", -3.0}, {"LowerBound", -5.0}}, "", {}},
        {"VectorRescaler", {{"OutputLowBound", 5.0}, {"OutputHighBound", 3.0}},
         "block \"b\", parameter \"OutputLowBound\": the block refused 5.0: " + reason, {reason + "\n"}},
    };
    for (const auto& [block, values, failure, said] : cases) {
        fresh_patch();
        patch->add_block("b", block);
        EXPECT_EQ(failure_of([&] { patch->set_parameters("b", values); }), failure) << block;
        Lines heard;
        for (const auto& n : patch->kernel().sink().events())
            if (n.kind == mrvhost::Notification::Message) heard.push_back(n.text);
        EXPECT_EQ(heard, said) << block;
        for (const auto& [id, value] : failure.empty() ? values : Values{})  // when every value was taken
            EXPECT_EQ(mrvhost::value_to_json(*patch->node("b").signature().find_parameter(id)->GetValue()), value);
    }
}

// A CSV source's settings, over the table or another file, copied by a sink
// of the source's datatype: its lines, or why the start failed.
TEST_F(HostBlocks, SourcesSendWhatTheirSettingsSelectOrSayWhyNot) {
    std::ofstream(folder / "mixed.csv") << "x,n,flag,label\n1.5,2,true,3.0\n-0.25,-3,0,nan\n1e300,7,FALSE,2.5\n";
    std::ofstream(folder / "words.csv") << "x\ntrue\nmaybe\n";
    std::ofstream(folder / "one.csv") << "v\n4\n5\n";
    fs::create_directory(folder / "folder");
    const std::vector<std::tuple<const char*, json, Lines>> cases = {
        {"double-matrix", json::object(), {"1,1,2,3", "2,4,5,6", "3,7,8,9"}},
        {"double-matrix", {{"Mode", "window"}, {"Window", 2}, {"Columns", "0,2"}}, {"1,1,3", "1,4,6", "2,7,9"}},
        {"double-matrix", {{"Mode", "all"}, {"Columns", "1-2"}}, {"1,2,3", "1,5,6", "1,8,9"}},
        {"double-matrix", {{"Mode", "all"}, {"Rows", 2}}, {"1,1,2,3", "1,4,5,6"}},
        {"double", {{"File", "mixed.csv"}, {"Columns", "0"}}, {"1,1.5", "2,-0.25", "3,1e+300"}},
        {"int", {{"File", "mixed.csv"}, {"Columns", "1"}}, {"1,2", "2,-3", "3,7"}},
        {"bool", {{"File", "mixed.csv"}, {"Columns", "2"}}, {"1,true", "2,false", "3,false"}},
        {"double", {{"File", "one.csv"}}, {"1,4", "2,5"}},
        {"int", {{"File", "mixed.csv"}, {"Columns", "3"}}, failed("@/mixed.csv:3: nan is not an int")},
        {"bool", {{"File", "mixed.csv"}, {"Columns", "3"}}, failed("@/mixed.csv:3: nan is not a bool")},
        {"bool", {{"File", "words.csv"}}, failed("@/words.csv:3: \"maybe\" is not a bool")},
        {"double", {{"File", "mixed.csv"}, {"Columns", "0-1"}},
         failed("@/mixed.csv:2: a double source reads one column, not 2 (choose one with Columns)")},
        {"double", {{"File", "mixed.csv"}, {"Columns", "0"}, {"Mode", "all"}},
         failed("a double source sends one row per tick: Mode must be \"row\"")},
        {"double-matrix", {{"Columns", "5"}}, failed("@/table.csv:2: bad column list \"5\" among columns 0 to 2")},
        {"double-matrix", {{"Rows", -1}}, failed("Rows must be from 0")},
        {"double-matrix", {{"Mode", "sideways"}}, failed("unknown Mode \"sideways\" (row, window or all)")},
        // Column lists and windows are checked against the file before anything is allocated.
        {"double-matrix", {{"Columns", "0-2147483647"}},
         failed("@/table.csv:2: bad column list \"0-2147483647\" among columns 0 to 2")},
        {"double-matrix", {{"Columns", "1,2147483646-2147483647"}},
         failed("@/table.csv:2: bad column list \"1,2147483646-2147483647\": \"2147483646-2147483647\" is not among "
                "columns 0 to 2")},
        {"double-matrix", {{"Columns", "2-1"}}, failed("@/table.csv:2: bad column list \"2-1\" among columns 0 to 2")},
        {"double-matrix", {{"Mode", "window"}, {"Window", 2000000000}},
         failed("Window 2000000000 is more than the 3 rows of \"@/table.csv\"")},
        {"double-matrix", {{"Mode", "window"}, {"Window", 0}}, failed("Window must be from 1")},
        {"double-matrix", {{"File", "folder"}}, failed("cannot open \"@/folder\": it is a directory")},
        {"double-matrix", {{"File", "/dev/zero"}}, failed("cannot open \"/dev/zero\": it is a character device, not a file")},
        {"double-matrix", {{"File", "absent.csv"}}, failed("cannot open \"@/absent.csv\": No such file or directory")},
        {"double-matrix", {{"File", "table.csv/inner"}}, failed("cannot open \"@/table.csv/inner\": Not a directory")},
    };
    for (const auto& [datatype, source, expected] : cases) EXPECT_EQ(copy_table(source, datatype), expected) << source;
}

// Every field of a table is a number as written: none left empty between
// separators (blanks alone may run together), none in hexadecimal or beyond
// a double; and a table sent whole fits in memory.
TEST_F(HostBlocks, TableFieldsAreCheckedOneByOne) {
    const std::vector<std::pair<std::string, Lines>> cases = {
        {"1 2   3\n4 , 5 ;6 \r\n", {"1,1,2,3", "2,4,5,6"}},
        {"1,2\n3\t\n", failed("@/t.csv:2: column 1 is empty")},
        {"1,,3\n", failed("@/t.csv:1: column 1 is empty")},
        {"1,2\n3 ,  ,4\n", failed("@/t.csv:2: column 1 is empty")},
        {"1;2;\n", failed("@/t.csv:1: column 2 is empty")},
        {";1;2\n", failed("@/t.csv:1: column 0 is empty")},
        {"1\t\t2\n", failed("@/t.csv:1: column 1 is empty")},
        // Numbers as strtod reads them, whole: either sign, a point without
        // digits on one side, inf and nan; below the smallest double is zero.
        {"+1.5 -.5 1. +inf -Infinity NaN 1e-400 -1e-400 4.9e-324\n", {"1,1.5,-0.5,1,inf,-inf,nan,0,-0,5e-324"}},
        {"+-1\n", failed("@/t.csv:1: \"+-1\" is not a number")},
        {"1,1e\n", failed("@/t.csv:1: \"1e\" is not a number")},
        {"1,2\n1e400,2\n", failed("@/t.csv:2: \"1e400\" is beyond the range of a double")},
        {"-0x10,2\n", failed("@/t.csv:1: \"-0x10\" is hexadecimal, not a decimal number")},
    };
    for (const auto& [text, expected] : cases) {
        std::ofstream(folder / "t.csv") << text;
        EXPECT_EQ(copy_table({{"File", "t.csv"}, {"HeaderRows", 0}}), expected) << text;
    }
    // Only the whole table is held in memory; a row at a time, any size is read.
    fs::resize_file(folder / "t.csv", (std::uintmax_t(1) << 30) + 1);
    EXPECT_EQ(copy_table({{"File", "t.csv"}, {"Mode", "all"}}),
              failed("\"@/t.csv\" holds 1073741825 bytes; a table may hold at most 1 GiB"));
    EXPECT_EQ(copy_table({{"File", "t.csv"}, {"HeaderRows", 0}}), cases.back().second);
}

// A table is read as the run goes: one cut short or grown meanwhile is an
// error naming it, and every row sent before is a row of the file as it was.
TEST_F(HostBlocks, ATableThatChangesSizeWhileReadIsAnError) {
    const std::string t = (folder / "t.csv").string();
    std::string rows;
    for (int row = 1; row <= 20000; ++row) rows += std::to_string(row) + "\n";  // more than one read
    for (const std::uintmax_t change : {std::uintmax_t(10), std::uintmax_t(1) << 20}) {
        std::ofstream(t) << rows;
        fresh_patch();
        source_to_sink("double", {{"File", "t.csv"}, {"HeaderRows", 0}});
        ASSERT_TRUE(patch->start());
        patch->tick();
        fs::resize_file(t, change);
        patch->run(0);
        patch->stop();
        EXPECT_EQ(errors(), Lines{"source: \"" + t + "\" changed size while it was read (" + std::to_string(rows.size()) +
                                  " bytes, now " + std::to_string(change) + ")\n"});
        const Lines sent = lines("copy.csv");
        EXPECT_LT(sent.size(), 20000u);
        for (const auto& line : sent) EXPECT_EQ(line.substr(0, line.find(',')), line.substr(line.find(',') + 1));
    }
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
    EXPECT_EQ(run_and_read("narrow.csv"), (Lines{"1,3,1", "1,6,4", "2,9,7"}));
    // The last window holds one row: its element (1, 2) is missing, said once.
    EXPECT_EQ(lines("elements.csv"), Lines{"1,6"});
    EXPECT_EQ(errors(), Lines{"element: Row 1, Column 2 is outside the 1x3 input\n"});
}

TEST_F(HostBlocks, EveryDatatypeACatalogBlockOutputsWritesToCsv) {
    const std::vector<std::tuple<const char*, json, Lines>> cases = {
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
    for (const auto& [datatype, value, expected] : cases) {
        fresh_patch();
        add("value", "host.constant", datatype, {{"Value", value}});
        add("out", "host.csv_sink", datatype, {{"File", "out.csv"}});
        patch->link("value", "Output", "out", "Input");
        EXPECT_EQ(run_and_read("out.csv"), expected) << datatype << " " << value;  // a constant is sent once
    }
}

TEST_F(HostBlocks, EachTicksLinesReachTheFileWhole) {
    source_to_sink();
    ASSERT_TRUE(patch->start());
    patch->tick();
    EXPECT_EQ(lines("copy.csv"), Lines{"1,1,2,3"});
    patch->tick();
    EXPECT_EQ(lines("copy.csv"), (Lines{"1,1,2,3", "2,4,5,6"}));
    patch->stop();
    // A paced run writes what it gathered before it waits for each tick.
    std::vector<std::size_t> written;
    patch->set_period(std::chrono::milliseconds(1), [&](auto) { written.push_back(lines("copy.csv").size()); });
    ASSERT_TRUE(patch->start());
    patch->run(0);
    EXPECT_EQ(written, (std::vector<std::size_t>{0, 1, 2}));
}

TEST_F(HostBlocks, AFailedWriteIsAnErrorNamingTheFileOnce) {
    source_to_sink();
    // Files may not grow: every write fails, as on a full disk.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const rlimit none{0, old.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &none);
    ASSERT_TRUE(patch->start());
    patch->run(0);
    patch->stop();
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(errors(), Lines{"sink: cannot write \"" + (folder / "copy.csv").string() + "\": File too large\n"});
    EXPECT_EQ(patch->progress(), "source: 3 of 3 rows, sink: 0 lines written");
}

// A writer never replaces, empties or waits on what is not a regular file;
// a symbolic link is followed, and stays.
TEST_F(HostBlocks, WritersRefuseATargetThatIsNotAFile) {
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
    const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, (folder / "socket").c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    for (const char* sink : {"host.csv_sink", "host.image_sink", "host.plot_sink"})
        for (const auto& [target, reason] : {std::pair{"fifo", "pipe"}, std::pair{"socket", "socket"}}) {
            fresh_patch();
            source_to_sink("", json::object(), sink, (folder / target).string());
            EXPECT_EQ(run_and_read("none"),
                      failed("cannot write \"@/" + std::string(target) + "\": it is a " + reason + ", not a file", "sink"))
                << sink;
        }
    ::close(socket);
    EXPECT_EQ(fs::status(folder / "fifo").type(), fs::file_type::fifo);

    for (const std::string sink : {"host.csv_sink", "host.image_sink"}) {
        std::ofstream(folder / ("real-" + sink)) << "old\n";
        fs::create_symlink("real-" + sink, folder / ("link-" + sink));
        fresh_patch();
        source_to_sink("", json::object(), sink, "link-" + sink);
        EXPECT_NE(run_and_read("real-" + sink), Lines{"old"}) << sink;
        EXPECT_TRUE(fs::is_symlink(folder / ("link-" + sink))) << sink;
    }
}

// The patch's file check: host blocks' files, catalog file-name parameters
// (read or written as their layout says; relative names from the patch's
// folder, as for host blocks), the patch file and the save target.
TEST_F(HostBlocks, OneCheckCoversTheFilesOfEveryBlockAndThePatch) {
    const std::string table = (folder / "table.csv").string(), copy = (folder / "copy.csv").string(),
                      patch_file = (folder / "run.json").string(), model = (folder / "m.txt").string();
    const std::string over_table = "would overwrite \"" + table + "\", which block ";
    // Each case's blocks, then a source reading the table; a block of no
    // class is one of the run's own files, the patch file or the save target.
    using Blocks = std::vector<std::tuple<std::string, const char*, json>>;
    const std::vector<std::pair<Blocks, std::string>> cases = {
        {{{"sink", "host.csv_sink", {{"File", "./sub/../table.csv"}}}},
         "block \"sink\" (File) " + over_table + "\"source\" (File) reads"},
        {{{"sink", "host.csv_sink", {{"File", "copy.csv"}}}, {"again", "host.csv_sink", {{"File", copy}}}},
         "block \"sink\" (File) and block \"again\" (File) both write \"" + copy + "\""},
        {{{"train", "SVMTrain", {{"ModelFileName", "table.csv"}}}},
         "block \"train\" (ModelFileName) " + over_table + "\"source\" (File) reads"},
        {{{"z", "Standardize2", {{"TrainingSetFile", "table.csv"}}}, {"sink", "host.csv_sink", {{"File", "table.csv"}}}},
         "block \"sink\" (File) " + over_table + "\"z\" (TrainingSetFile) reads"},
        {{{"the patch file", "", {{"File", patch_file}}}, {"picture", "host.image_sink", {{"File", "run.json"}}}},
         "block \"picture\" (File) would overwrite \"" + patch_file + "\", which is the patch file"},
        {{{"--save", "", {{"File", table}}}}, "--save " + over_table + "\"source\" (File) reads"},
        {{{"train", "SVMTrain", {{"ModelFileName", "m.txt"}, {"LogFileName", "m.txt"}}}},
         "block \"train\" (ModelFileName) and block \"train\" (LogFileName) both write \"" + model + "\""},
        // Readers may share a file.
        {{{"z", "Standardize2", {{"TrainingSetFile", "table.csv"}}}, {"again", "host.csv_source", {{"File", table}}},
          {"svm", "SVM", {{"ModelFileName", "m.txt"}}}, {"svm2", "SVM", {{"ModelFileName", "m.txt"}}}},
         ""},
    };
    for (const auto& [blocks, failure] : cases) {
        fresh_patch();
        for (const auto& [name, class_id, parameters] : blocks)
            if (*class_id) add(name, class_id, "", parameters);
            else patch->use_file(name, parameters["File"].get<std::string>(), name == "--save");
        add("source", "host.csv_source", "", {{"File", "table.csv"}});
        EXPECT_EQ(failure_of([&] { patch->check_files(); }), failure) << failure;
    }
    EXPECT_EQ(lines("table.csv").size(), 4u);
}

}  // namespace
