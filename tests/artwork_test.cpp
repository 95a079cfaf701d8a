// The artwork generator (tools/artwork) makes, byte for byte, the pictures committed in assets/,
// the contact sheet in docs/ and the icons in packaging/: what the tree holds is what the tool
// gives.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "support/test_support.h"

using namespace test_support;

TEST(Artwork, GeneratorGivesTheCommittedPngsByteForByte) {
    if (!*STARGLOBE_ARTWORK) {
        if (std::getenv("CI")) FAIL() << "FreeType was not found: no artwork generator was built";
        GTEST_SKIP() << "needs FreeType (scripts/packages.txt, role tools)";
    }
    TempDir dir;
    const ProcessResult r = run_program({STARGLOBE_ARTWORK, dir.path}, dir.path, {}, 600.0);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::vector<std::string> made;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path))
        if (entry.is_regular_file()) made.push_back(entry.path().lexically_relative(dir.path));
    EXPECT_EQ(made.size(), 51u) << "45 pictures, the contact sheet and 5 icons";
    for (const std::string& name : made)
        EXPECT_TRUE(read_file(dir.file(name)) == read_file(kSourceDir + "/" + name)) << name;
}
