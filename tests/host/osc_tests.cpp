// The OSC source and sink in a patch, talking to a peer over the loopback
// interface. A run until stopped, answering each message, is shown by
// mrv-run in the live tool tests.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "common/live_objects_test.h"
#include "common/osc_peer.h"
#include "host/patch.h"

namespace {

using mrvhost::Patch;
using nlohmann::json;

class Osc : public LiveObjectsTest {
protected:
    void ReleaseHostObjects() override { patch.reset(); }

    void add(const std::string& name, const std::string& class_id, const std::string& datatype, const json& parameters) {
        patch->add_block(name, class_id, datatype);
        for (const auto& [id, value] : parameters.items()) patch->set_parameter(name, id, value);
    }
    // A new patch with a source "in" of `datatype` on a free port, started
    // (paced when `period_ms` is given); the port it reported.
    int start_source(const std::string& datatype, json parameters = json::object(), int period_ms = 0) {
        patch = std::make_unique<Patch>();
        parameters["Port"] = 0;
        add("in", "host.osc_source", datatype, parameters);
        if (period_ms) patch->set_period(std::chrono::milliseconds(period_ms));
        EXPECT_TRUE(patch->start()) << patch->failure();
        const std::string text = patch->kernel().sink().events().at(0).text;
        return std::stoi(text.substr(text.find("port ") + 5));
    }
    // Waits (at most 2 s) until the source has taken `count` messages, or
    // for any request when `count` is 0, then ticks once.
    void tick_when_received(long count = 0) {
        auto& request = patch->node("in").status().execution_request();
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while ((count ? patch->messages_in() < count : !request.pending()) && std::chrono::steady_clock::now() < give_up)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        patch->tick();
    }
    json output() { return mrvhost::value_to_json(*patch->node("in").signature().find_output("Output")->GetDatatype()); }
    std::vector<std::string> warnings() const {
        std::vector<std::string> texts;
        for (const auto& n : patch->kernel().sink().events())
            if (n.level == Mrv::LevelWarning) texts.push_back(n.text);
        return texts;
    }

    std::unique_ptr<Patch> patch = std::make_unique<Patch>();
    OscPeer peer;
};

TEST_F(Osc, SourceSendsEachDatatype) {
    struct Case {
        const char* datatype;
        const char* types;
        std::vector<double> numbers;
        json expected;
    };
    const std::vector<Case> cases = {
        {"double-matrix", "ifdh", {1, 2.5, -3.25, 1e12}, json::parse("[[1, 2.5, -3.25, 1e12]]")},
        {"double", "f", {0.5}, 0.5},
        {"double", "df", {0.1, 7}, 0.1},
        {"int", "d", {-7}, -7},
        {"bool", "i", {0}, false},
        {"bool", "d", {-2}, true},
    };
    for (const auto& c : cases) {
        const int port = start_source(c.datatype, {{"Width", 4}});
        peer.send(port, "/mrv/input", numbers_message(c.types, c.numbers));
        tick_when_received(1);
        EXPECT_EQ(output(), c.expected) << c.datatype << " " << c.types;
        EXPECT_TRUE(warnings().empty());
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
    peer.send(int_port, "/mrv/input", numbers_message("f", {2.5}));
    peer.send(int_port, "/mrv/input", numbers_message("f", {2}));
    tick_when_received(1);
    EXPECT_EQ(warnings(), std::vector<std::string>{
                              "messages whose first argument is not an int are ignored and counted; the first was 2.5\n"});
}

TEST_F(Osc, BundlesAreUnpackedOneTickPerMessage) {
    const int port = start_source("double");
    lo_timetag later;
    lo_timetag_now(&later);
    later.sec += 60;  // taken at once all the same
    lo_bundle outer = lo_bundle_new(later);
    lo_bundle inner = lo_bundle_new(LO_TT_IMMEDIATE);
    lo_bundle_add_message(outer, "/mrv/input", numbers_message("f", {1}));
    lo_bundle_add_message(inner, "/mrv/input", numbers_message("d", {2}));
    lo_bundle_add_bundle(outer, inner);
    lo_bundle_add_message(outer, "/mrv/input", numbers_message("i", {3}));
    std::size_t size = 0;
    void* data = lo_bundle_serialise(outer, nullptr, &size);
    peer.send_raw(port, data, size);
    std::free(data);
    lo_bundle_free_recursive(outer);
    std::vector<json> taken;
    for (long k = 1; k <= 3; ++k) {
        tick_when_received(k == 1 ? 3 : 0);
        taken.push_back(output());
    }
    EXPECT_EQ(taken, (std::vector<json>{1.0, 2.0, 3.0}));
}

TEST_F(Osc, PacedRunsTakeTheNewestMessageAndCountTheRest) {
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
    struct Case {
        const char* datatype;
        json value;
        const char* type;
        std::vector<OscMessage> expected;
    };
    const std::vector<Case> cases = {
        {"double", 2.5, "f", {{"/mrv/output", "f", {2.5}, {}}}},
        {"double", 0.1, "d", {{"/mrv/output", "d", {0.1}, {}}}},
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
    for (const auto& c : cases) {
        patch = std::make_unique<Patch>();
        add("value", "host.constant", c.datatype, {{"Value", c.value}});
        add("out", "host.osc_sink", c.datatype, {{"Port", peer.port()}, {"Type", c.type}});
        patch->link("value", "Output", "out", "Input");
        ASSERT_TRUE(patch->start()) << patch->failure();
        patch->run(2);  // a constant is sent once
        for (const auto& expected : c.expected) EXPECT_EQ(peer.receive(), expected) << c.datatype;
        EXPECT_EQ(peer.receive(0).path, "") << c.datatype;
        EXPECT_EQ(patch->progress(), "out: " + std::to_string(c.expected.size()) + " messages sent");
    }
}

}  // namespace
