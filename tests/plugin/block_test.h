// A fixture for one catalog block driven through the dlopen'ed plug-in and
// the substitute host, with the live-object count checked at the end.
#pragma once

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/live_objects_test.h"
#include "host/harness.h"

class BlockTest : public LiveObjectsTest {
protected:
    explicit BlockTest(std::string class_id) : class_id_(std::move(class_id)) {}
    void ReleaseHostObjects() override { harness.reset(); }

    // A fresh instance, declared (or restored from `saved`).
    mrvhost::BlockHarness& make(const std::string& name = "block") {
        harness = std::make_unique<mrvhost::BlockHarness>(plugin.find_class(class_id_), name);
        harness->init_instance();
        return *harness;
    }
    mrvhost::BlockHarness& restore(mrvhost::Signature& saved, mrvhost::Layout* layout = nullptr,
                                   const std::string& name = "block") {
        harness = std::make_unique<mrvhost::BlockHarness>(plugin.find_class(class_id_), name);
        harness->init_instance(saved, layout);
        return *harness;
    }
    // A fresh instance restored from a save whose int parameter `id` was
    // edited by hand to `value`.
    mrvhost::BlockHarness& restore_edited(const char* id, int value) {
        mrvhost::Ref<mrvhost::Signature> saved = make().signature().clone();
        Mrv::interface_cast<Mrv::IInt>(saved->find_parameter(id)->GetValue())->SetValue(value);
        return restore(*saved);
    }
    // Feeds one value and runs the tick that takes it.
    void feed(const char* input_id, double value) {
        harness->feed_double(input_id, value);
        ASSERT_TRUE(harness->tick());
    }
    void feed_all(const char* input_id, const std::vector<double>& values) {
        for (double value : values) feed(input_id, value);
    }
    // Fires a trigger and runs the tick the block asks for.
    void fire_and_tick(const char* trigger_id) {
        ASSERT_TRUE(harness->fire(trigger_id));
        ASSERT_TRUE(harness->tick());
    }
    std::string parameter_string(const std::string& id) {
        return Mrv::interface_cast<Mrv::IString>(harness->parameter(id).GetValue())->GetValue();
    }
    // The ids of the block's inputs and outputs, in order.
    std::vector<std::string> input_ids() { return ids(harness->signature().inputs().items()); }
    std::vector<std::string> output_ids() { return ids(harness->signature().outputs().items()); }
    template <class Items>
    static std::vector<std::string> ids(const Items& items) {
        std::vector<std::string> found;
        for (const auto& item : items) found.push_back(item->GetId());
        return found;
    }
    // How many signature-changed notifications the block sent.
    int signature_changes() const {
        int changes = 0;
        for (const auto& event : harness->notifications())
            changes += event.kind == mrvhost::Notification::SignatureChanged;
        return changes;
    }

    mrvhost::Plugin plugin{mrvhost::Plugin::default_path()};
    std::unique_ptr<mrvhost::BlockHarness> harness;

private:
    std::string class_id_;
};

// A BlockTest with an empty folder of its own for the files the block reads
// and writes, removed at the end.
class FolderBlockTest : public BlockTest {
protected:
    using BlockTest::BlockTest;
    ~FolderBlockTest() override { std::filesystem::remove_all(folder); }
    std::string path(const std::string& name) const { return (folder / name).string(); }
    std::string write(const std::string& name, const std::string& bytes) {
        std::ofstream(folder / name, std::ios::binary) << bytes;
        return path(name);
    }

    const std::filesystem::path folder = fresh_test_folder("mrv-block");
};
