#include "rtl/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/temp_folder.h"

namespace {
std::filesystem::path Native(std::string path) {
#if !defined(_WIN32)
    for (char& c : path)
        if (c == '\\') c = '/';
#endif
    return path;
}

// The names in a folder.
std::set<std::string> FolderContent(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Native(folder)))
        names.insert(entry.path().filename().string());
    return names;
}

// A file written some other way than ours.
void Plant(const std::string& path, const std::string& content) {
    std::ofstream(Native(path), std::ios::binary) << content;
}

std::string Content(const std::string& path) {
    std::string content;
    EXPECT_TRUE(ReadWholeFile(path, content)) << path;
    return content;
}

// Runs a test's code at the steps of the file routines, each step once: what is done
// there happens at exactly that point of the routine that reached it.
class TFileSteps {
public:
    using TAction = std::function<void(TFileStep step, const std::string& file)>;
    explicit TFileSteps(TAction action) {
        Action() = std::move(action);
        FileStepHook = &Run;
    }
    ~TFileSteps() {
        FileStepHook = nullptr;
        Action() = nullptr;
    }
    TFileSteps(const TFileSteps&) = delete;
    TFileSteps& operator=(const TFileSteps&) = delete;

private:
    static TAction& Action() {
        static TAction action;
        return action;
    }
    static void Run(TFileStep step, const std::string& file) {
        // What the action does itself passes the steps untouched.
        TAction action = std::exchange(Action(), nullptr);
        if (action) action(step, file);
        Action() = std::move(action);
    }
};

TEST(Files, ReplaceFileContentCreatesAndReplaces) {
    TTempFolder dir;
    const std::string path = dir.Path("settings.ini");
    ASSERT_TRUE(ReplaceFileContent(path, "first\r\n"));
    ASSERT_TRUE(ReplaceFileContent(path, "second"));
    EXPECT_EQ(Content(path), "second");
    std::string content;
    EXPECT_FALSE(ReadWholeFile(TemporaryNameFor(path), content)) << "no temporary file is left";
    EXPECT_EQ(FolderContent(dir.Root()), std::set<std::string>{"settings.ini"});
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

// A load in another player at the moment of a save: the save goes through, the load
// gets the whole old content.
TEST(Files, ASaveWhileTheFileIsReadGoesThrough) {
    TTempFolder dir;
    const std::string path = dir.Path("settings.ini");
    ASSERT_TRUE(ReplaceFileContent(path, "old"));
    bool saved = false;
    std::string read;
    {
        TFileSteps steps([&](TFileStep step, const std::string&) {
            if (step == TFileStep::Reading) saved = ReplaceFileContent(path, "new");
        });
        EXPECT_TRUE(ReadWholeFile(path, read));
    }
    EXPECT_TRUE(saved);
    EXPECT_EQ(read, "old");
    EXPECT_EQ(Content(path), "new");
    EXPECT_EQ(FolderContent(dir.Root()), std::set<std::string>{"settings.ini"}) << "nothing is left beside it";
}

// Two savers at once, as two players or two instances of one: the second one's whole
// save falls between the first one's writing and its replacement.
TEST(Files, TwoSavesAtOnceNeverShareATemporaryFile) {
    TTempFolder dir;
    const std::string path = dir.Path("settings.ini");
    ASSERT_TRUE(ReplaceFileContent(path, "old"));
    std::vector<std::string> temporaries;
    bool secondSaved = false;
    bool firstSaved = false;
    {
        TFileSteps steps([&](TFileStep step, const std::string& file) {
            if (step != TFileStep::Replacing) return;
            temporaries.push_back(file);
            secondSaved = ReplaceFileContent(path, "second");
            EXPECT_EQ(Content(file), "first") << "the first saver's temporary file is its own";
        });
        firstSaved = ReplaceFileContent(path, "first");
    }
    EXPECT_TRUE(secondSaved);
    EXPECT_TRUE(firstSaved);
    EXPECT_EQ(Content(path), "first") << "the later replacement wins";
    ASSERT_EQ(temporaries.size(), 1u);
    EXPECT_NE(temporaries[0], TemporaryNameFor(path)) << "the second save's temporary file";
    EXPECT_EQ(FolderContent(dir.Root()), std::set<std::string>{"settings.ini"});
}

// Files of the temporary names that are not this save's own: an older version's, still
// being written or left behind, and one of a crashed process that had our id before.
TEST(Files, AFileAlreadyAtATemporaryNameIsNeverTakenOver) {
    TTempFolder dir;
    const std::string path = dir.Path("settings.ini");
    const std::string older = path + ".new";
    ASSERT_TRUE(ReplaceFileContent(path, "old"));
    Plant(older, "older version's");
    const std::string crashed = TemporaryNameFor(path, LatestTemporarySerial() + 1);
    Plant(crashed, "crashed process's");

    EXPECT_TRUE(ReplaceFileContent(path, "new"));

    EXPECT_EQ(Content(path), "new");
    EXPECT_EQ(Content(older), "older version's");
    EXPECT_EQ(Content(crashed), "crashed process's");
    EXPECT_NE(TemporaryNameFor(path), crashed);
}

// Each serial names its own file, beside the file, and the process's id is in the
// name, so that two processes never meet in one either.
TEST(Files, TemporaryNamesAreThoseOfTheProcessAndTheSerial) {
    const std::string path = "C:\\x\\settings.ini";
    const std::string process = std::to_string(ThisProcessId());
    EXPECT_EQ(TemporaryNameFor(path, 7), path + "." + process + "-7.tmp");
    EXPECT_NE(TemporaryNameFor(path, 7), TemporaryNameFor(path, 8));
    EXPECT_NE(AsideNameFor(path, 7), TemporaryNameFor(path, 7));
}
}  // namespace
