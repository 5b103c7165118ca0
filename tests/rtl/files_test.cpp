#include "rtl/files.h"

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"

namespace {
TEST(Files, ReplaceFileContentCreatesAndReplaces) {
    TTempFolder dir;
    const std::string path = dir.Path("settings.ini");
    ASSERT_TRUE(ReplaceFileContent(path, "first\r\n"));
    ASSERT_TRUE(ReplaceFileContent(path, "second"));
    std::string content;
    ASSERT_TRUE(ReadWholeFile(path, content));
    EXPECT_EQ(content, "second");
    EXPECT_FALSE(ReadWholeFile(TemporaryNameFor(path), content)) << "no temporary file is left";
}

TEST(Files, ReadWholeFileKeepsEveryByte) {
    TTempFolder dir;
    const std::string bytes("a\0b\r\n\xFF", 6);
    ASSERT_TRUE(ReplaceFileContent(dir.Path("bin"), bytes));
    std::string content = "old";
    ASSERT_TRUE(ReadWholeFile(dir.Path("bin"), content));
    EXPECT_EQ(content, bytes);
    EXPECT_FALSE(ReadWholeFile(dir.Path("missing"), content));
    EXPECT_EQ(content, bytes) << "a failed read leaves the buffer alone";
}

TEST(Files, ForceDirectoriesCreatesEveryMissingParent) {
    TTempFolder dir;
    const std::string nested = dir.Path("a\\b\\c");
    EXPECT_FALSE(DirectoryExists(nested));
    EXPECT_TRUE(ForceDirectories(nested));
    EXPECT_TRUE(DirectoryExists(nested));
    EXPECT_TRUE(ForceDirectories(nested + "\\"));
    EXPECT_FALSE(DirectoryExists(dir.Path("a\\b\\c\\d")));
}

TEST(Files, WriteIntoMissingFolderFails) {
    TTempFolder dir;
    EXPECT_FALSE(ReplaceFileContent(dir.Path("none\\settings.ini"), "x"));
}
}  // namespace
