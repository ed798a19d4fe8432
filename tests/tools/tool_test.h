// What the tests of the tools share: a scratch folder per test, patch files
// written into it and mrv-run run on them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "common/command_line.h"

#define EXPECT_HAS(output, text) EXPECT_NE((output).find(text), std::string::npos) << (output)

class ToolTest : public ::testing::Test {
protected:
    void SetUp() override { folder = fresh_test_folder("mrv-tools"); }
    void TearDown() override { std::filesystem::remove_all(folder); }

    std::string write(const std::string& name, const std::string& text) {
        std::ofstream(folder / name) << text;
        return (folder / name).string();
    }
    std::string write_patch(const std::string& name, const nlohmann::json& patch) { return write(name, patch.dump(2)); }
    Result mrv_run(const std::string& arguments) { return run(std::string(MRV_RUN) + " " + arguments); }

    std::filesystem::path folder;
};
