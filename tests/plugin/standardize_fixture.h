// What the Standardize and Standardize2 tests share: int-matrix inputs and
// the error report of a failed Init.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "host/datatypes.h"
#include "plugin/block_test.h"

class StandardizeBlockTest : public BlockTest {
protected:
    explicit StandardizeBlockTest(const std::string& class_id) : BlockTest(class_id) {}

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
    // The errors of an Init that failed with `message`.
    static std::vector<std::string> init_error(const std::string& message) {
        return {message, "Block std: error in method Init\n"};
    }
};
