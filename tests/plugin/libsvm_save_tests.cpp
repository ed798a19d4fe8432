// LibSVMSave through the dlopen'ed plug-in: the file it keeps open, its
// modes and what it reports (the line format is the algorithm tests').
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "plugin/block_test.h"

namespace {

namespace fs = std::filesystem;

class LibSVMSave : public FolderBlockTest {
protected:
    LibSVMSave() : FolderBlockTest("LibSVMSave") {}

    // A running block writing `file` in `mode` (0 Append, 1 Overwrite).
    void running(const std::string& file, int mode, int rows, int columns, const std::vector<double>& values) {
        make("export");
        ASSERT_TRUE(harness->set_string("FileName", (folder / file).string()));
        ASSERT_TRUE(harness->set_int("SaveMode", mode));
        harness->feed_matrix("InputMatrix", rows, columns, values);
        ASSERT_TRUE(harness->begin());
        harness->set_running(true);
    }
    void tick_with(int rows, int columns, const std::vector<double>& values) {
        harness->feed_matrix("InputMatrix", rows, columns, values);
        ASSERT_TRUE(harness->tick());
    }
    std::string file_name_parameter() {
        return Mrv::interface_cast<Mrv::IString>(harness->parameter("FileName").GetValue())->GetValue();
    }
};

TEST_F(LibSVMSave, AppendModeAddsEveryTicksRowsInLibsvmFormat) {
    std::ofstream(folder / "data.txt") << "3 1:1 \n";  // earlier content stays
    running("data.txt", 0, 2, 3, {1, 0, 4, -1, 2, 0});
    ASSERT_TRUE(harness->tick());
    // Flushed at once: a killed host keeps the tick.
    EXPECT_EQ(read_file(folder / "data.txt"), "3 1:1 \n1 2:4 \n-1 1:2 \n");
    tick_with(2, 3, {0.5, 0, 0, 2, 3, 0});
    const std::string written = read_file(folder / "data.txt");
    EXPECT_EQ(written, "3 1:1 \n1 2:4 \n-1 1:2 \n0.5 \n2 1:3 \n");
    EXPECT_TRUE(harness->messages().empty());
    // Shapes are those of Init: a reshaped input is reported, not written.
    tick_with(3, 3, std::vector<double>(9, 1.0));
    EXPECT_EQ(harness->messages(Mrv::LevelWarning),
              std::vector<std::string>{
                  "CLibSVMSave::Execute -- The input shape changed after Init; the matrix is not written.\n"});
    EXPECT_EQ(read_file(folder / "data.txt"), written);
}

TEST_F(LibSVMSave, OverwriteModeKeepsOnlyTheLastTick) {
    std::ofstream(folder / "data.txt") << "old content that goes\n";
    running("data.txt", 1, 2, 2, {1, 10, 2, 20});
    EXPECT_EQ(read_file(folder / "data.txt"), "");  // emptied at Init
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(read_file(folder / "data.txt"), "1 1:10 \n2 1:20 \n");
    tick_with(2, 2, {3, 0, 4, 0});  // shorter than the tick before
    EXPECT_EQ(read_file(folder / "data.txt"), "3 \n4 \n");
}

TEST_F(LibSVMSave, SaveModeChangedWhileRunningReopensTheFile) {
    running("data.txt", 0, 1, 2, {1, 5});
    ASSERT_TRUE(harness->tick());
    ASSERT_TRUE(harness->set_int("SaveMode", 1));  // "w" empties the file
    EXPECT_EQ(read_file(folder / "data.txt"), "");
    tick_with(1, 2, {2, 6});
    ASSERT_TRUE(harness->set_int("SaveMode", 0));
    tick_with(1, 2, {3, 7});
    EXPECT_EQ(read_file(folder / "data.txt"), "2 1:6 \n3 1:7 \n");
    EXPECT_TRUE(harness->messages().empty());
}

// What is not a regular file is never opened: no hang on a FIFO without a
// reader.
TEST_F(LibSVMSave, UnopenableFileAtInitNamesTheFile) {
    const std::string missing = path("missing/data.txt"), fifo = path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {missing, {}}, {fifo, {"CLibSVMSave::Init -- " + fifo + " cannot be written: it is a FIFO.\n"}}};
    for (auto [file, reasons] : cases) {
        make("export");
        ASSERT_TRUE(harness->set_string("FileName", file));
        harness->feed_matrix("InputMatrix", 1, 2, {1, 2});
        EXPECT_FALSE(harness->init());
        reasons.insert(reasons.begin(), "CLibSVMSave::Init -- Cannot open output file " + file + ".\n");
        reasons.push_back("Block export: error in method Init\n");
        EXPECT_EQ(harness->messages(Mrv::LevelError), reasons);
    }
}

TEST_F(LibSVMSave, NewFileThatCannotBeOpenedKeepsTheOldFileAndName) {
    running("data.txt", 0, 1, 2, {1, 5});
    const std::string old_name = (folder / "data.txt").string();
    const std::string missing = (folder / "missing" / "other.txt").string();
    harness->clear_notifications();
    EXPECT_TRUE(harness->set_string("FileName", missing));
    EXPECT_EQ(file_name_parameter(), old_name);
    EXPECT_EQ(harness->messages(Mrv::LevelError),
              std::vector<std::string>{"CLibSVMSave::OnChangedParameter -- Cannot open output file " + missing +
                                       ". The old file will be kept.\n"});
    ASSERT_TRUE(harness->tick());
    EXPECT_EQ(read_file(old_name), "1 1:5 \n");
    // A good new name takes over.
    ASSERT_TRUE(harness->set_string("FileName", (folder / "next.txt").string()));
    tick_with(1, 2, {2, 6});
    EXPECT_EQ(read_file(folder / "next.txt"), "2 1:6 \n");
    EXPECT_EQ(read_file(old_name), "1 1:5 \n");
}

TEST_F(LibSVMSave, WritingStopsWhenNoFileCanBeOpened) {
    fs::create_directories(folder / "gone");
    running("gone/data.txt", 0, 1, 2, {1, 5});
    fs::remove_all(folder / "gone");
    harness->clear_notifications();
    const std::string stopped = "CLibSVMSave::OnChangedParameter -- Cannot open output file. File writing will be stopped.\n";
    EXPECT_TRUE(harness->set_string("FileName", (folder / "missing" / "other.txt").string()));
    EXPECT_EQ(harness->messages(Mrv::LevelError), std::vector<std::string>{stopped});
    ASSERT_TRUE(harness->tick());  // nothing to write into, nothing reported
    EXPECT_EQ(harness->messages(Mrv::LevelError).size(), 1u);
    harness->clear_notifications();
    EXPECT_TRUE(harness->set_int("SaveMode", 1));
    EXPECT_EQ(harness->messages(Mrv::LevelError), std::vector<std::string>{stopped});
    // Writing resumes with a name that opens.
    ASSERT_TRUE(harness->set_string("FileName", (folder / "back.txt").string()));
    tick_with(1, 2, {2, 6});
    EXPECT_EQ(read_file(folder / "back.txt"), "2 1:6 \n");
}

}  // namespace
