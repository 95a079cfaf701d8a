#include "system/atomic_output.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

// Old files kept on failure, folders, stdout and devices: checked through render_test.cpp.
namespace {

using test_support::names_in;
using test_support::read_file;
using test_support::TempDir;
using test_support::write_file;
using Bytes = std::vector<uint8_t>;
using Names = std::vector<std::string>;
namespace fs = std::filesystem;

TEST(AtomicFile, CommitReplacesWholeKeepingPermissionsAndLinksOrGivingTheUsualOnes) {
    TempDir dir;
    const std::string fresh = dir.file("new.bin"), old = dir.file("old.csv");
    write_file(old, {'1'});
    ASSERT_EQ(chmod(old.c_str(), 0640), 0);
    fs::create_symlink(old, dir.file("link"));
    AtomicOutput a, b;
    ASSERT_TRUE(output_begin(fresh, OutputShape::file, &a));
    ASSERT_TRUE(output_begin(dir.file("link"), OutputShape::file, &b));
    write_file(a.write_path, {'2'});
    write_file(b.write_path, {'3'});
    // Written beside the final names, so that the rename is atomic, and nothing shows there yet.
    EXPECT_EQ(names_in(dir.path).size(), 4u);
    EXPECT_FALSE(fs::exists(fresh));
    EXPECT_EQ(read_file(old), Bytes{'1'});
    ASSERT_TRUE(output_commit(&a));
    ASSERT_TRUE(output_commit(&b));
    EXPECT_EQ(names_in(dir.path), (Names{"link", "new.bin", "old.csv"}));
    EXPECT_TRUE(fs::is_symlink(dir.file("link")));
    EXPECT_EQ(read_file(fresh), Bytes{'2'});
    EXPECT_EQ(read_file(old), Bytes{'3'});
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(fs::status(fresh).permissions(), fs::perms(0666 & ~mask));  // not mkstemp's 0600
    EXPECT_EQ(fs::status(old).permissions(), fs::perms(0640));
}

TEST(AtomicOutput, RefusesWhatItCannotReplaceWholeBeforeMakingAnything) {
    TempDir dir;
    const std::string missing = dir.file("no/such/file");
    write_file(dir.file("file"), {'x'});
    AtomicOutput out;
    EXPECT_NE(output_begin(dir.path, OutputShape::file, &out).message.find("is a folder"),
              std::string::npos);
    EXPECT_NE(
        output_begin(missing, OutputShape::file, &out).message.find("cannot write '" + missing),
        std::string::npos);
    EXPECT_FALSE(output_begin(dir.file("file"), OutputShape::folder, &out));
    EXPECT_EQ(names_in(dir.path), Names{"file"});
    // An empty folder (`--png .` is one) is filled in place; abandoned, it loses what the run
    // wrote there and nothing that others put there meanwhile.
    fs::create_directory(dir.file("empty"));
    {
        AtomicOutput in_place;
        ASSERT_TRUE(output_begin(dir.file("empty"), OutputShape::folder, &in_place));
        output_wrote(&in_place, "frame00000.png");
        write_file(in_place.write_path + "/frame00000.png", {'x'});
        write_file(in_place.write_path + "/theirs.txt", {'y'});
        fs::create_directory(in_place.write_path + "/their-folder");
    }  // dropped uncommitted
    EXPECT_EQ(names_in(dir.path), (Names{"empty", "file"}));
    EXPECT_EQ(names_in(dir.file("empty")), (Names{"their-folder", "theirs.txt"}));
}

}  // namespace
