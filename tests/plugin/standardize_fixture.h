// What the Standardize and Standardize2 tests share: a harness around one
// block of the dlopen'ed plug-in, int-matrix inputs and the error report
// of a failed Init.
#pragma once

#include <gtest/gtest.h>

#include "common/live_objects_test.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "host/datatypes.h"
#include "host/harness.h"

class StandardizeBlockTest : public LiveObjectsTest {
protected:
    void ReleaseHostObjects() override { harness.reset(); }
    mrvhost::BlockHarness& make(const std::string& class_id) {
        harness = std::make_unique<mrvhost::BlockHarness>(plugin.find_class(class_id), "std");
        harness->init_instance();
        return *harness;
    }
    void feed_digits(const std::string& input_id, int rows, int columns, const std::vector<int>& values) {
        auto* matrix = mrvhost::convert_or_throw<Mrv::IIntMatrix>(harness->source(input_id));
        matrix->Reinit(rows, columns);
        std::copy(values.begin(), values.end(), matrix->GetWritePointer());
        harness->touch(input_id);
    }
    std::vector<std::string> input_ids() {
        std::vector<std::string> ids;
        for (const auto& pin : harness->signature().inputs().items()) ids.push_back(pin->GetId());
        return ids;
    }
    std::vector<std::string> parameter_ids() {
        std::vector<std::string> ids;
        for (const auto& parameter : harness->signature().parameters().items()) ids.push_back(parameter->GetId());
        return ids;
    }
    int signature_changes() {
        return static_cast<int>(std::count_if(harness->notifications().begin(), harness->notifications().end(),
                                              [](const mrvhost::Notification& event) {
                                                  return event.kind == mrvhost::Notification::SignatureChanged;
                                              }));
    }
    // The errors of an Init that failed with `message`.
    static std::vector<std::string> init_error(const std::string& message) {
        return {message, "Block std: error in method Init\n"};
    }

    mrvhost::Plugin plugin{mrvhost::Plugin::default_path()};
    std::unique_ptr<mrvhost::BlockHarness> harness;
};
