// The host alone: values, pins, the sinks' pictures read back with Cairo, and
// the OSC blocks talking to a peer over the loopback interface (a run until
// stopped, answering each message, is shown by mrv-run in the live tool tests).
#include <gtest/gtest.h>

#include <cairo.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <ostream>
#include <thread>

#include "common/files.h"
#include "common/exceptions.h"
#include "common/live_objects_test.h"
#include "common/osc_peer.h"
#include "host/datatypes.h"
#include "host/editing.h"
#include "host/patch.h"
#include "host/picture.h"
#include "host/signature.h"

namespace mrvhost {
void PrintTo(const Rgb& c, std::ostream* out) { *out << +c.r << "," << +c.g << "," << +c.b; }
}  // namespace mrvhost

namespace {

namespace fs = std::filesystem;
using namespace mrvhost;
using nlohmann::json;

class HostObjects : public LiveObjectsTest {
protected:
    void ReleaseHostObjects() override { patch.reset(); }
    template <class I>
    Ref<I> make(const char* class_id) {
        return Ref<I>(convert_or_throw<I>(Ref<Mrv::IDatatype>::adopt(create_datatype("kernel", class_id)).get()));
    }
    void add(const std::string& name, const std::string& class_id, const std::string& datatype, const json& parameters) {
        patch->add_block(name, class_id, datatype);
        for (const auto& [id, value] : parameters.items()) patch->set_parameter(name, id, value);
    }
    std::unique_ptr<Patch> patch = std::make_unique<Patch>();
};

TEST_F(HostObjects, CopyEqualsAndShapes) {
    auto a = make<Mrv::IDoubleMatrix>("double-matrix"), b = make<Mrv::IDoubleMatrix>("double-matrix");
    a->ReadFromText("1 nan");
    a->SetTimeStamp(77);
    auto shape = Ref<Mrv::IInitInfo>::adopt(a->CreateInitInfo());
    shape->Apply(b.get());
    EXPECT_EQ(b->GetWidth(), 2);
    b->CopyFrom(a.get());
    EXPECT_TRUE(b->Equals(a.get()));  // NaN equals NaN for comparison before assignment
    EXPECT_EQ(b->GetTimeStamp(), 0);
    auto number = make<Mrv::IDouble>("double");
    EXPECT_EQ(description_of([&] { shape->Apply(number.get()); }), "Invalid type cast.\n");
    EXPECT_EQ(description_of([&] { number->CopyFrom(a.get()); }), "Invalid type cast.\n");
    auto trigger = make<Mrv::ITrigger>("trigger");
    EXPECT_FALSE(trigger->Equals(trigger.get()));
}

TEST_F(HostObjects, DomainBoundsInclusiveExclusiveAbsent) {
    auto domain = Ref<Mrv::IDomain>::adopt(create_domain("kernel", "int-domain"));
    auto value = make<Mrv::IInt>("int");
    auto accepts = [&](int v) { return value->SetValue(v), domain->Accepts(value.get()); };
    EXPECT_TRUE(accepts(-100));
    convert_or_throw<Mrv::IIntDomain>(domain.get())->SetMinimum(1, Mrv::BoundFlagTrue);
    convert_or_throw<Mrv::IIntDomain>(domain.get())->SetMaximum(10, Mrv::BoundFlagFalse);
    EXPECT_TRUE(accepts(1) && !accepts(10) && !accepts(0));
    EXPECT_FALSE(domain->Accepts(make<Mrv::IDouble>("double").get()));
}

// Trained maps are saved as matrix parameters: every double must come back
// with the same bits from the text of a patch file.
TEST_F(HostObjects, ValuesReadFromPatchFilesAndText) {
    const std::vector<double> tricky = {0.1 + 0.2, 1.0 / 3.0, 5e-324, 2.2250738585072014e-308, 1.7976931348623157e308, -0.0,
                                        0.30000000000000004, 123456789.12345679, 1e23, std::nextafter(1.0, 2.0),
                                        -HUGE_VAL, std::numeric_limits<double>::quiet_NaN()};
    auto matrix = make<Mrv::IDoubleMatrix>("double-matrix"), copy = make<Mrv::IDoubleMatrix>("double-matrix");
    matrix->Reinit(2, 6);
    std::copy(tricky.begin(), tricky.end(), matrix->GetWritePointer());
    value_from_json(*copy, json::parse(value_to_json(*matrix).dump(2)));
    EXPECT_EQ(std::memcmp(copy->GetReadPointer(), tricky.data(), sizeof(double) * tricky.size()), 0);
    EXPECT_EQ(description_of([&] { value_from_json(*make<Mrv::IInt>("int"), 1.5); }), "std: expected an integer, not 1.5");
    EXPECT_EQ(description_of([&] { value_from_json(*copy, json::parse("[[1],[2,3]]")); }),
              "std: matrix rows differ in length");
    // Matrices read from text; a failed parse leaves the matrix as it was.
    ASSERT_TRUE(matrix->ReadFromText("1 2.5\t-3\n\n nan INF -Infinity \n"));
    EXPECT_FALSE(matrix->ReadFromText("1 2\n3") || matrix->ReadFromText("1 x"));
    EXPECT_EQ(value_to_json(*matrix), json::parse(R"([[1, 2.5, -3], ["nan", "inf", "-inf"]])"));
    auto ints = make<Mrv::IIntMatrix>("int-matrix");
    EXPECT_TRUE(ints->ReadFromText("1 -2"));
    EXPECT_FALSE(ints->ReadFromText("1.5 2"));
    EXPECT_EQ(value_to_json(*ints), json::parse("[[1, -2]]"));
    EXPECT_TRUE(matrix->ReadFromText("") && matrix->GetHeight() == 0);
}

TEST_F(HostObjects, InputReadsTheLinkedOutputsVeryObject) {
    Ref<Pin> output = Pin::create_output("out", "kernel", "double"), input = Pin::create_input("in", "kernel", "double");
    EXPECT_FALSE(input->HasData());
    input->connect(*output);
    EXPECT_EQ(input->GetDatatype(), output->GetDatatype());
    output->GetDatatype()->SetTimeStamp(5);
    EXPECT_TRUE(input->HasData());
    // Data only for a value that arrived since the block's last execution.
    Ref<Signature> signature = Signature::create();
    signature->inputs().add(input);
    signature->executed();
    EXPECT_FALSE(input->HasData());
    output->GetDatatype()->SetTimeStamp(6);
    EXPECT_TRUE(input->HasData());
    Ref<Pin> matrix = Pin::create_output("m", "kernel", "double-matrix");
    EXPECT_EQ(description_of([&] { input->connect(*matrix); }),
              "std: cannot link m (kernel/double-matrix) to in (kernel/double)");
    // An identifier is unique among a block's inputs, outputs and parameters.
    EXPECT_EQ(description_of([&] { signature->AddOutput("in", "A", "again", "kernel", "double", "", "", 0); }),
              "Duplicate identifier \"in\" in block signature.\n");
}

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// A picture read back; unreadable, it has no width and every point is black.
struct Png {
    explicit Png(const fs::path& path) : surface(cairo_image_surface_create_from_png(path.c_str()), cairo_surface_destroy) {}
    bool ok() const { return cairo_surface_status(surface.get()) == CAIRO_STATUS_SUCCESS; }
    int width() const { return cairo_image_surface_get_width(surface.get()); }
    Rgb at(double x, double y) const {
        if (!ok()) return {0, 0, 0};
        const unsigned char* row =
            cairo_image_surface_get_data(surface.get()) + int(y) * cairo_image_surface_get_stride(surface.get());
        const std::uint32_t pixel = reinterpret_cast<const std::uint32_t*>(row)[int(x)];
        return {static_cast<unsigned char>(pixel >> 16), static_cast<unsigned char>(pixel >> 8), static_cast<unsigned char>(pixel)};
    }
    // The colour drawn at the centre of cell (r, c) of panel p.
    Rgb cell(const HeatmapPicture& picture, std::size_t p, int r, int c) const {
        const CellBox box = picture.cell(p, r, c);
        return at(box.x + box.width / 2, box.y + box.height / 2);
    }
    std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)> surface;
};

class Pictures : public HostObjects {
protected:
    ~Pictures() override { fs::remove_all(folder); }
    fs::path folder = fresh_test_folder("mrv-pictures");
};

MatrixView view(const std::vector<double>& cells, int rows, int cols) { return {cells.data(), nullptr, rows, cols}; }

TEST_F(Pictures, HeatmapColoursCellsAcrossTheFiniteRangeAndMarksNonFiniteCells) {
    const std::vector<double> cells{2, 4, 6, nan, HUGE_VAL, -HUGE_VAL, 10, 4, 6};
    Heatmap heatmap(1, false);
    heatmap.add("", view(cells, 3, 3));
    EXPECT_EQ(heatmap.nan_cells(), 1);
    EXPECT_EQ(heatmap.infinite_cells(), 2);
    const HeatmapPicture picture(heatmap, "som");
    picture.write((folder / "map.png").string());
    const Png png(folder / "map.png");
    EXPECT_EQ(png.width(), picture.width());
    EXPECT_EQ(viridis(0), (Rgb{0x44, 0x01, 0x54}));
    for (const auto& [r, c, colour] : std::vector<std::tuple<int, int, Rgb>>{{0, 0, viridis(0)}, {2, 0, viridis(1)},
                                                                          {2, 2, viridis(0.5)}, {2, 1, viridis(0.25)},
                                                                          {1, 0, nan_colour}, {1, 1, infinite_colour},
                                                                          {1, 2, infinite_colour}})
        EXPECT_EQ(colour, png.cell(picture, 0, r, c)) << r << "," << c;
}

TEST_F(Pictures, PlanesAreSplitAndArgmaxDrawsTheLargestPlaneTiesGrey) {
    // Three 2x2 planes stacked: cell (0,0) plane 2 wins, (0,1) plane 0,
    // (1,0) planes 0 and 1 tie, (1,1) holds a NaN.
    const std::vector<double> cells{1, 9, 5, 2,  //
                                    0, 1, 5, 3,  //
                                    4, 2, 1, nan};
    Heatmap planes(3, false);
    planes.name_planes({"a", "", "c"});
    planes.add("w", view(cells, 6, 2));
    ASSERT_EQ(planes.panels().size(), 3u);
    EXPECT_EQ(planes.panels()[0].name, "w a");
    EXPECT_EQ(planes.panels()[1].name, "w plane 1");
    EXPECT_EQ(planes.panels()[0].cells, (std::vector<double>{1, 9, 5, 2}));

    Heatmap argmax(3, true);
    argmax.add("", view(cells, 6, 2));
    EXPECT_EQ(argmax.tie_cells(), 1);
    EXPECT_EQ(argmax.nan_cells(), 1);
    const HeatmapPicture picture(argmax);
    picture.write((folder / "classes.png").string());
    const Png png(folder / "classes.png");
    EXPECT_EQ(category_colour(2), png.cell(picture, 0, 0, 0));
    EXPECT_EQ(category_colour(0), png.cell(picture, 0, 0, 1));
    EXPECT_EQ(tie_colour, png.cell(picture, 0, 1, 0));
    EXPECT_EQ(nan_colour, png.cell(picture, 0, 1, 1));

    EXPECT_THROW(argmax.add("", view(cells, 4, 3)), std::invalid_argument);
}

// A picture is written beside the target and renamed over it: a reader
// sees the old picture or the new one, never a part.
TEST_F(Pictures, APictureReplacesTheLastInOneStep) {
    const std::vector<double> cells{1, 2};
    Heatmap heatmap(1, false);
    heatmap.add("", view(cells, 1, 2));
    const HeatmapPicture picture(heatmap);
    const fs::path path = folder / "live.png";
    std::ofstream(path) << "old";
    fs::create_hard_link(path, folder / "held");  // as a reader holds the old picture open
    picture.write(path.string());
    EXPECT_EQ(Png(path).width(), picture.width());
    EXPECT_EQ(read_file(folder / "held"), "old");
    // Nothing else is left beside the picture.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator{}), 2);
}

TEST_F(Pictures, ChartsDrawBarsPerSeriesOverTheXValues) {
    const Chart chart{"hist", {{1, 2, 4}, {4, nan, 2}}, {0.5, 1.5, 2.5}};
    write_chart(chart, (folder / "bars.png").string());
    const Png png(folder / "bars.png");
    EXPECT_EQ(png.width(), chart_width);
    // Three slots; each holds the two series' bars side by side, from 0 up
    // to 4 at the top of the area.
    const CellBox area = chart_area(chart);
    const double slot = area.width / 3, bar = slot * 0.4, bottom = area.y + area.height - 3;
    EXPECT_EQ(series_colour(0), png.at(area.x + 2 * slot + 0.1 * slot + bar / 2, area.y + 3));
    EXPECT_EQ(series_colour(1), png.at(area.x + 0.1 * slot + 1.5 * bar, area.y + 3));
    EXPECT_EQ(series_colour(0), png.at(area.x + 0.1 * slot + 0.5 * bar, bottom));
    // A NaN draws no bar.
    EXPECT_EQ((Rgb{255, 255, 255}), png.at(area.x + slot + 0.1 * slot + 1.5 * bar, bottom));
}

// The sink in a patch: the first value at once, then one at most every
// EveryTicks ticks, and the last when the run ends.
TEST_F(Pictures, ImageSinkDrawsNewValuesEveryTicksAndWhenTheRunEnds) {
    const fs::path file = folder / "map.png";
    add("value", "host.constant", "int-matrix", {{"Value", json::parse("[[0, 1], [2, 3]]")}});
    add("picture", "host.image_sink", "int-matrix", {{"File", file.string()}, {"EveryTicks", 2}});
    patch->link("value", "Output", "picture", "Input");
    ASSERT_TRUE(patch->start()) << patch->failure();
    patch->tick();
    EXPECT_TRUE(fs::remove(file));
    patch->set_parameter("value", "Value", json::parse("[[3, 2], [1, 0]]"));
    patch->tick();
    EXPECT_FALSE(fs::remove(file));
    patch->set_parameter("value", "Value", json::parse("[[0, 0], [0, 5]]"));
    patch->tick();
    const std::vector<int> cells{0, 0, 0, 5};
    Heatmap expected(1, false);
    expected.add("", {nullptr, cells.data(), 2, 2});
    EXPECT_EQ(viridis(1), Png(file).cell(HeatmapPicture(expected, "picture"), 0, 1, 1));
    fs::remove(file);
    patch->stop();
    EXPECT_TRUE(Png(file).ok());
    EXPECT_EQ(patch->node("picture").host_block->progress(), "3 pictures written");
}

class Osc : public HostObjects {
protected:
    // A new patch of a source "in" on a free port, started (paced given a period); its port.
    int start_source(const std::string& datatype, json parameters = json::object(), int period_ms = 0) {
        patch = std::make_unique<Patch>();
        parameters["Port"] = 0;
        add("in", "host.osc_source", datatype, parameters);
        if (period_ms) patch->set_period(std::chrono::milliseconds(period_ms));
        EXPECT_TRUE(patch->start()) << patch->failure();
        const std::string text = patch->kernel().sink().events().at(0).text;
        return std::stoi(text.substr(text.find("port ") + 5));
    }
    // Ticks once the source has taken `count` messages, or asks to run when 0 (at most 2 s).
    void tick_when_received(long count = 0) {
        auto& request = patch->node("in").status().execution_request();
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while ((count ? patch->messages_in() < count : !request.pending()) && std::chrono::steady_clock::now() < give_up)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        patch->tick();
    }
    json output() { return value_to_json(*patch->node("in").signature().find_output("Output")->GetDatatype()); }
    std::vector<std::string> warnings() const {
        std::vector<std::string> texts;
        for (const auto& n : patch->kernel().sink().events())
            if (n.level == Mrv::LevelWarning) texts.push_back(n.text);
        return texts;
    }

    OscPeer peer;
};

TEST_F(Osc, SourceSendsEachDatatype) {
    // Numbers of any type into a matrix are shown by mrv-run in the live tool tests.
    const std::vector<std::tuple<const char*, const char*, std::vector<double>, json>> cases = {
        {"double", "f", {0.5}, 0.5},
        {"double", "h", {1e12}, 1e12},
        {"double", "df", {0.1, 7}, 0.1},
        {"int", "d", {-7}, -7},
        {"bool", "i", {0}, false},
        {"bool", "d", {-2}, true},
    };
    for (const auto& [datatype, types, numbers, expected] : cases) {
        peer.send(start_source(datatype), "/mrv/input", numbers_message(types, numbers));
        tick_when_received(1);
        EXPECT_EQ(output(), expected) << datatype << " " << types;
    }
}

TEST_F(Osc, OtherMessagesAreCountedAndReportedOncePerKind) {
    const int port = start_source("double-matrix", {{"Width", 2}});
    const char truncated[] = "/mrv/input\0\0,ff\0\0\0";
    for (int round = 1; round <= 2; ++round) {
        peer.send(port, "/mrv/other", numbers_message("ff", {1, 2}));
        peer.send(port, "/mrv/input", numbers_message("fs", {1, 0}));
        peer.send(port, "/mrv/input", numbers_message("fff", {1, 2, 3}));
        peer.send_raw(port, truncated, sizeof truncated - 1);
        peer.send(port, "/mrv/input", numbers_message("ff", {double(round), 2}));
        tick_when_received(round);
        EXPECT_EQ(output(), json::parse("[[" + std::to_string(round) + ".0, 2.0]]"));
    }
    EXPECT_EQ(warnings(),
              (std::vector<std::string>{
                  "messages for other addresses are ignored and counted; the first was for \"/mrv/other\"\n",
                  "messages with arguments that are not numbers are ignored and counted; the first had the type tags "
                  "\"fs\"\n",
                  "messages without 2 numbers are ignored and counted; the first had 3 arguments\n",
                  "datagrams that are not OSC are ignored and counted; in the first, an argument is not valid\n"}));
    EXPECT_EQ(patch->progress(),
              "in: 2 messages, 2 for other addresses, 2 not numeric, 2 of another width, 2 malformed");

    const int int_port = start_source("int");
    for (double x : {2.5, 2.0}) peer.send(int_port, "/mrv/input", numbers_message("f", {x}));
    tick_when_received(1);
    EXPECT_EQ(warnings(), std::vector<std::string>{
                              "messages whose first argument is not an int are ignored and counted; the first was 2.5\n"});
}

// Messages waiting for a tick: a live run takes each message of a bundle
// in a tick of its own; a paced run takes the newest and counts the rest.
TEST_F(Osc, BundlesAreUnpackedOneTickPerMessageAndPacedRunsTakeTheNewest) {
    lo_timetag later;
    lo_timetag_now(&later);
    later.sec += 60;  // taken at once all the same
    lo_bundle outer = lo_bundle_new(later), inner = lo_bundle_new(LO_TT_IMMEDIATE);
    lo_bundle_add_message(outer, "/mrv/input", numbers_message("f", {1}));
    lo_bundle_add_message(inner, "/mrv/input", numbers_message("d", {2}));
    lo_bundle_add_bundle(outer, inner);
    lo_bundle_add_message(outer, "/mrv/input", numbers_message("i", {3}));
    std::size_t size = 0;
    void* data = lo_bundle_serialise(outer, nullptr, &size);
    peer.send_raw(start_source("double"), data, size);
    std::free(data);
    lo_bundle_free_recursive(outer);
    for (int k = 1; k <= 3; ++k) {
        tick_when_received(k == 1 ? 3 : 0);
        EXPECT_EQ(output(), double(k));
    }

    const int port = start_source("double", json::object(), 1);
    for (int k = 1; k <= 5; ++k) peer.send(port, "/mrv/input", numbers_message("f", {double(k)}));
    tick_when_received(5);
    EXPECT_EQ(output(), 5.0);
    EXPECT_EQ(patch->progress(), "in: 5 messages, 4 superseded");
}

TEST_F(Osc, SettingsThatCannotWorkFailInit) {
    const std::vector<std::tuple<const char*, json, std::string>> cases = {
        {"host.osc_source", {{"Port", peer.port()}},
         "cannot listen on 127.0.0.1 port " + std::to_string(peer.port()) + ": Address already in use"},
        {"host.osc_source", {{"Bind", "300.1.2.3"}}, "Bind \"300.1.2.3\" is not an IP address: Name or service not known"},
        {"host.osc_source", {{"Bind", "192.0.2.1"}}, "cannot listen on 192.0.2.1 port 0: Cannot assign requested address"},
        {"host.osc_source", {{"Port", 65536}}, "Port must be from 0 to 65535, not 65536"},
        {"host.osc_source", {{"Address", "mrv"}}, "Address \"mrv\" must start with \"/\""},
        {"host.osc_source", {{"Width", 0}}, "Width must be from 1"},
        {"host.osc_sink", json::object(), "Port must be from 1 to 65535, not 0"},
        {"host.osc_sink", {{"Port", 9000}, {"Type", "i"}}, "unknown Type \"i\" (f or d)"},
        {"host.osc_sink", {{"Port", 9000}, {"Host", "nowhere.invalid"}}, "unknown Host \"nowhere.invalid\": "},
    };
    for (const auto& [class_id, parameters, failure] : cases) {
        patch = std::make_unique<Patch>();
        add("b", class_id, "", parameters);
        add("value", "host.constant", "double-matrix", json::object());
        if (std::string(class_id) == "host.osc_sink") patch->link("value", "Output", "b", "Input");
        EXPECT_FALSE(patch->start());
        const std::string expected = "block \"b\" failed to initialise: " + failure;
        EXPECT_EQ(patch->failure().substr(0, expected.size()), expected) << parameters;
    }
}

TEST_F(Osc, SinkSendsEachDatatype) {
    const std::vector<std::tuple<const char*, json, const char*, std::vector<OscMessage>>> cases = {
        {"double", 2.5, "f", {{"/mrv/output", "f", {2.5}, {}}}},
        {"int", -7, "f", {{"/mrv/output", "f", {-7}, {}}}},
        {"bool", true, "f", {{"/mrv/output", "f", {1}, {}}}},
        {"string", "setosa", "f", {{"/mrv/output", "s", {}, {"setosa"}}}},
        {"double-matrix", json::parse("[[1, 2], [3, 0.1]]"), "d",
         {{"/mrv/output", "dd", {1, 2}, {}}, {"/mrv/output", "dd", {3, 0.1}, {}}}},
        {"int-matrix", json::parse("[[1, -2, 3]]"), "f", {{"/mrv/output", "iii", {1, -2, 3}, {}}}},
        {"labeled_set", json::parse(R"([{"name": "a", "matrix": [[1, 2], [3, 4]]}, {"name": "b", "matrix": [[5, 6], [7, 8]]}])"),
         "f", {{"/mrv/output", "sffff", {1, 2, 3, 4}, {"a"}}, {"/mrv/output", "sffff", {5, 6, 7, 8}, {"b"}}}},
        {"temporal_data", json::parse(R"({"rate": 30, "channels": [[1, 2], [3, 4.5]]})"), "f",
         {{"/mrv/output", "ifff", {0, 30, 1, 2}, {}}, {"/mrv/output", "ifff", {1, 30, 3, 4.5}, {}}}},
    };
    for (const auto& [datatype, value, type, messages] : cases) {
        patch = std::make_unique<Patch>();
        add("value", "host.constant", datatype, {{"Value", value}});
        add("out", "host.osc_sink", datatype, {{"Port", peer.port()}, {"Type", type}});
        patch->link("value", "Output", "out", "Input");
        ASSERT_TRUE(patch->start()) << patch->failure();
        patch->run(2);  // a constant is sent once
        for (const auto& expected : messages) EXPECT_EQ(peer.receive(), expected) << datatype;
        EXPECT_EQ(peer.receive(0).path, "") << datatype;
        EXPECT_EQ(patch->progress(), "out: " + std::to_string(messages.size()) + " messages sent");
    }
}

}  // namespace
