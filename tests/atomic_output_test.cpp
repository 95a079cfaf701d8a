#include "render/atomic_output.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using test_support::TempDir;
namespace fs = std::filesystem;

std::vector<std::string> names_in(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string text_of(const std::string& path) {
    const std::vector<uint8_t> bytes = test_support::read_file(path);
    return std::string(bytes.begin(), bytes.end());
}

void put_text(const std::string& path, const std::string& text) {
    test_support::write_file(path, std::vector<uint8_t>(text.begin(), text.end()));
}

mode_t mode_of(const std::string& path) {
    struct stat st;
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

TEST(AtomicFile, NewFileAppearsOnlyAtCommitWithUsualPermissions) {
    TempDir dir;
    const std::string path = dir.file("out.bin");
    AtomicOutput out;
    ASSERT_EQ(output_begin(path, OutputShape::file, &out), "");
    EXPECT_EQ(out.way, OutputWay::replaced);
    EXPECT_EQ(out.write_path, out.temp_path);
    EXPECT_EQ(fs::path(out.temp_path).parent_path(), fs::path(path).parent_path());  // same disk
    EXPECT_FALSE(fs::exists(path));
    put_text(out.write_path, "whole");
    EXPECT_FALSE(fs::exists(path));

    ASSERT_EQ(output_commit(&out), "");
    EXPECT_EQ(text_of(path), "whole");
    EXPECT_EQ(names_in(dir.path), std::vector<std::string>{"out.bin"});
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(mode_of(path), 0666 & ~mask);
}

TEST(AtomicFile, ExistingFileKeepsItsContentUntilCommitAndItsPermissions) {
    TempDir dir;
    const std::string path = dir.file("out.csv");
    put_text(path, "old");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);

    AtomicOutput abandoned;
    ASSERT_EQ(output_begin(path, OutputShape::file_or_stdout, &abandoned), "");
    put_text(abandoned.write_path, "half");
    output_abandon(&abandoned);
    EXPECT_EQ(text_of(path), "old");
    EXPECT_EQ(names_in(dir.path), std::vector<std::string>{"out.csv"});

    AtomicOutput done;
    ASSERT_EQ(output_begin(path, OutputShape::file, &done), "");
    put_text(done.write_path, "new");
    EXPECT_EQ(text_of(path), "old");
    ASSERT_EQ(output_commit(&done), "");
    EXPECT_EQ(text_of(path), "new");
    EXPECT_EQ(mode_of(path), 0640u);
}

TEST(AtomicFile, LinkToAFileIsKeptAndItsTargetReplaced) {
    TempDir dir;
    put_text(dir.file("target"), "old");
    fs::create_symlink(dir.file("target"), dir.file("link"));
    AtomicOutput out;
    ASSERT_EQ(output_begin(dir.file("link"), OutputShape::file, &out), "");
    put_text(out.write_path, "new");
    ASSERT_EQ(output_commit(&out), "");
    EXPECT_TRUE(fs::is_symlink(dir.file("link")));
    EXPECT_EQ(text_of(dir.file("target")), "new");
}

TEST(AtomicFile, StandardOutputAndNonRegularFilesAreWrittenDirectly) {
    AtomicOutput out;
    ASSERT_EQ(output_begin("-", OutputShape::file_or_stdout, &out), "");
    EXPECT_EQ(out.way, OutputWay::to_stdout);
    EXPECT_NE(output_begin("-", OutputShape::file, &out), "");

    ASSERT_EQ(output_begin("/dev/null", OutputShape::file, &out), "");
    EXPECT_EQ(out.way, OutputWay::direct);
    EXPECT_EQ(out.write_path, "/dev/null");
    EXPECT_EQ(out.temp_path, "");
    EXPECT_EQ(output_commit(&out), "");
    EXPECT_TRUE(fs::is_character_file("/dev/null"));

    TempDir dir;
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(output_begin(fifo, OutputShape::file, &out), "");
    EXPECT_EQ(out.way, OutputWay::direct);
    output_abandon(&out);
    EXPECT_TRUE(fs::is_fifo(fifo));  // never removed or replaced
}

TEST(AtomicFile, RefusesFoldersAndMissingParents) {
    TempDir dir;
    AtomicOutput out;
    EXPECT_NE(output_begin(dir.path, OutputShape::file, &out).find("is a folder"),
              std::string::npos);
    const std::string missing = dir.file("no/such/file");
    const std::string error = output_begin(missing, OutputShape::file, &out);
    EXPECT_NE(error.find("cannot write " + missing), std::string::npos) << error;
    EXPECT_TRUE(names_in(dir.path).empty());
}

TEST(AtomicFolder, IsFilledAsideAndRenamedWhole) {
    TempDir dir;
    const std::string path = dir.file("frames");
    AtomicOutput out;
    ASSERT_EQ(output_begin(path, OutputShape::folder, &out), "");
    EXPECT_TRUE(out.folder);
    EXPECT_TRUE(fs::is_directory(out.write_path));
    EXPECT_FALSE(fs::exists(path));
    put_text(out.write_path + "/a.png", "a");
    ASSERT_EQ(output_commit(&out), "");
    EXPECT_EQ(names_in(path), std::vector<std::string>{"a.png"});
    EXPECT_EQ(names_in(dir.path), std::vector<std::string>{"frames"});
}

TEST(AtomicFolder, AnEmptyFolderIsReplacedAndAnythingElseRefused) {
    TempDir dir;
    const std::string path = dir.file("frames");
    fs::create_directory(path);
    AtomicOutput out;
    ASSERT_EQ(output_begin(path, OutputShape::folder, &out), "");
    put_text(out.write_path + "/b.png", "b");
    ASSERT_EQ(output_commit(&out), "");
    EXPECT_EQ(names_in(path), std::vector<std::string>{"b.png"});

    // Now not empty: refused before anything is made, and left as it is.
    const std::string error = output_begin(path, OutputShape::folder, &out);
    EXPECT_NE(error.find("not empty"), std::string::npos) << error;
    put_text(dir.file("file"), "x");
    EXPECT_NE(output_begin(dir.file("file"), OutputShape::folder, &out), "");
    EXPECT_NE(output_begin("-", OutputShape::folder, &out), "");
    EXPECT_EQ(names_in(dir.path), (std::vector<std::string>{"file", "frames"}));
    EXPECT_EQ(names_in(path), std::vector<std::string>{"b.png"});
}

TEST(AtomicFolder, AbandonRemovesEverythingWritten) {
    TempDir dir;
    AtomicOutput out;
    ASSERT_EQ(output_begin(dir.file("frames"), OutputShape::folder, &out), "");
    for (const char* name : {"1.png", "2.png"}) put_text(out.write_path + "/" + name, "x");
    output_abandon(&out);
    EXPECT_TRUE(names_in(dir.path).empty());
}

TEST(StopSignals, AreNotedInsteadOfEndingTheProcess) {
    install_stop_handlers();
    EXPECT_EQ(stop_signal(), 0);
    raise(SIGTERM);
    EXPECT_EQ(stop_signal(), SIGTERM);
    // The test program itself must still end normally: put the default back.
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    signal(SIGHUP, SIG_DFL);
}

}  // namespace
