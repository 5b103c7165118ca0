// The action set and its settings file.
#include "engine/hidprocessor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rtl/files.h"
#include "rtl/shellfolders.h"
#include "rtl/virtualclock.h"
#include "tests/support/temp_folder.h"

#if defined(_WIN32)
#include <windows.h>
#include <shlobj.h>
#else
#include <signal.h>
#include <sys/resource.h>
#endif

namespace {
std::string Read(const std::string& path) {
    std::string content;
    EXPECT_TRUE(ReadWholeFile(path, content)) << path;
    return content;
}

void Write(const std::string& path, const std::string& content) { ASSERT_TRUE(ReplaceFileContent(path, content)); }

std::vector<std::string> Texts(const THidProcessor& p) {
    std::vector<std::string> texts;
    for (int i = 0; i < p.Count(); ++i) texts.push_back(p.Items(i)->AsText());
    return texts;
}

THidAction* Append(THidProcessor& p, const std::string& text) {
    auto* a = new THidAction();
    a->SetAsText(text);
    p.Add(a);
    return a;
}

class HidProcessorTest : public testing::Test {
protected:
    std::string File(const char* name = "kwhid.ini") const { return dir.Path(name); }

    std::shared_ptr<TVirtualClock> clock = TVirtualClock::Install();
    TTempFolder dir;
    THidProcessor engine;
};

TEST_F(HidProcessorTest, StartsEmptyWithItsDefaults) {
    EXPECT_EQ(engine.Count(), 0);
    EXPECT_EQ(engine.HidIndex, -1);
    EXPECT_EQ(engine.RepeatCount, 0);
    EXPECT_EQ(engine.FileName, "kwhid.ini");
    EXPECT_EQ(engine.SupportedActions, 0xFFFF);
    EXPECT_FALSE(engine.Mode);
    EXPECT_FALSE(engine.RepeatTimer->Enabled());
    EXPECT_EQ(engine.RepeatTimer->Interval(), 500u);
    EXPECT_THROW(engine.Items(0), EListError);
}

TEST_F(HidProcessorTest, FindActionReturnsTheFirstOfItsCodeOrAppendsOne) {
    Append(engine, "CFFFFFFFF000000010");
    THidAction* second = Append(engine, "B000000020000000A1");
    Append(engine, "B00000003FFFFFFFF2");
    EXPECT_EQ(engine.FindAction(1), second);

    THidAction* added = engine.FindAction(14);  // not asked whether the player offers it
    ASSERT_EQ(engine.Count(), 4);
    EXPECT_EQ(engine.Items(3), added);
    EXPECT_EQ(added->AsText(), "OFFFFFFFFFFFFFFFF-1");
    EXPECT_FALSE(added->Pressed);
    EXPECT_EQ(engine.FindAction(14), added);
}

TEST_F(HidProcessorTest, TheFourLineExampleIsWrittenByteForByte) {
    engine.HidIndex = 0;
    THidAction* play = engine.FindAction(1);
    play->PressSignature = 0x1A2B3C4D;
    play->DeviceIndex = 0;
    engine.FindAction(2);
    engine.SaveToFile(File());
    EXPECT_EQ(Read(File()),
              "HidIndex=0\r\n"
              "Mode=0\r\n"
              "Action00=B1A2B3C4DFFFFFFFF0\r\n"
              "Action01=CFFFFFFFFFFFFFFFF-1\r\n");
}

TEST_F(HidProcessorTest, ExtendedModeAndNegativeIndexAreWrittenAsSigned) {
    engine.Mode = true;
    engine.SaveToFile(File());
    EXPECT_EQ(Read(File()), "HidIndex=-1\r\nMode=-1\r\n");
}

TEST_F(HidProcessorTest, OnlyThirtyTwoActionsAreSaved) {
    for (int i = 0; i < 33; ++i) Append(engine, "B0000000" + std::string(1, "0123456789ABCDEF"[i % 16]) + "FFFFFFFF" + std::to_string(i));
    engine.SaveToFile(File());
    const std::string text = Read(File());
    EXPECT_NE(text.find("Action31=B0000000FFFFFFFFF31\r\n"), std::string::npos);
    EXPECT_EQ(text.find("Action32"), std::string::npos);
    EXPECT_EQ(text.find("FFFFFFFF32"), std::string::npos);
    engine.LoadFromFile(File());
    EXPECT_EQ(engine.Count(), 32);
}

TEST_F(HidProcessorTest, SaveThenLoadGivesTheSameEngine) {
    engine.HidIndex = 7;
    engine.Mode = true;
    Append(engine, "F0000ABCD1234EF013");
    Append(engine, "NFFFFFFFFFFFFFFFF-1");
    engine.SaveToFile(File());

    THidProcessor other;
    other.LoadFromFile(File());
    EXPECT_EQ(Texts(other), Texts(engine));
    EXPECT_EQ(other.HidIndex, 7);
    EXPECT_TRUE(other.Mode);
}

TEST_F(HidProcessorTest, NoFileEmptiesTheListAndKeepsTheFields) {
    Append(engine, "B12");
    engine.LoadFromFile(File("missing.ini"));
    EXPECT_EQ(engine.Count(), 0);
    EXPECT_EQ(engine.HidIndex, -1);
    EXPECT_FALSE(engine.Mode);
}

// One settings file and what a fresh engine makes of it.
struct TLoadCase {
    const char* name;
    std::string content;
    std::vector<std::string> actions;
    int32_t hidIndex;
    bool mode = false;
    TActionSet supported = AllActions;
};

class LoadRules : public HidProcessorTest, public testing::WithParamInterface<TLoadCase> {};

TEST_P(LoadRules, ReadsTheFileAsItsRulesSay) {
    const TLoadCase& c = GetParam();
    Write(File(), c.content);
    engine.SupportedActions = c.supported;
    engine.LoadFromFile(File());
    EXPECT_EQ(Texts(engine), c.actions);
    EXPECT_EQ(engine.HidIndex, c.hidIndex);
    EXPECT_EQ(engine.Mode, c.mode);
}

const std::string B0 = "B00000001FFFFFFFF0";
const std::string C1 = "C0000000200000003-1";

INSTANTIATE_TEST_SUITE_P(
    Settings, LoadRules,
    testing::Values(
        TLoadCase{"SlotsWithGapsCloseUp",
                  "HidIndex=2\r\nMode=0\r\nAction05=" + C1 + "\r\nAction00=" + B0 + "\r\n", {B0, C1}, 2},
        TLoadCase{"KeyLetterCaseIsIgnored", "action03=BFFFFFFFFFFFFFFFF0\r\nHIDINDEX=1\r\n",
                  {"BFFFFFFFFFFFFFFFF0"}, 1},
        TLoadCase{"LeadingBlankBeforeTheNameHidesTheKey", " Action03=BFFFFFFFFFFFFFFFF0\r\n", {}, 0},
        TLoadCase{"FirstOfTwoEqualKeysWins", "Action00=" + B0 + "\r\naction00=" + C1 + "\r\n", {B0}, 0},
        TLoadCase{"ShortValuesAreSkipped",
                  "Action00=B\r\nAction01= B1 \r\nAction02=B12\r\nAction03=\r\nAction04\r\n",
                  {"B00000012FFFFFFFF-1"}, 0},
        TLoadCase{"ValueIsTrimmed", "Action00=\t " + B0 + " \t\r\n", {B0}, 0},
        TLoadCase{"LowerCaseLetterIsDropped", "Action00=bFFFFFFFFFFFFFFFF0\r\nAction01=" + B0 + "\r\n", {B0}, 0},
        TLoadCase{"CodesThePlayerDoesNotOfferAreDropped",
                  "Action00=LFFFFFFFFFFFFFFFF0\r\nAction01=MFFFFFFFFFFFFFFFF0\r\nAction02=" + B0 +
                      "\r\nAction03=OFFFFFFFFFFFFFFFF0\r\nAction04=PFFFFFFFFFFFFFFFF0\r\nAction05=NFFFFFFFFFFFFFFFF0\r\n",
                  {B0, "NFFFFFFFFFFFFFFFF0"}, 0, false, 0x27FF},
        TLoadCase{"EjectIsKeptWhereOffered", "Action00=MFFFFFFFFFFFFFFFF0\r\n", {"MFFFFFFFFFFFFFFFF0"}, 0, false,
                  0x37FF},
        TLoadCase{"MissingHidIndexReadsAsZero", "Mode=-1\r\n", {}, 0, true},
        TLoadCase{"UnreadableHidIndexReadsAsZero", "HidIndex=abc\r\n", {}, 0},
        TLoadCase{"HidIndexMayBeNegative", "HidIndex=-1\r\n", {}, -1},
        TLoadCase{"ModeOtherThanTheTwoWrittenValuesKeepsTheMode", "Mode=1\r\n", {}, 0, false},
        TLoadCase{"LineEndsMayBeLfOrCrAlone", "HidIndex=4\nMode=-1\rAction00=" + B0, {B0}, 4, true},
        TLoadCase{"OnlyThirtyTwoSlotsAreRead", "Action32=" + B0 + "\r\nAction99=" + B0 + "\r\n", {}, 0},
        TLoadCase{"ThreeDigitSlotNamesAreNotSlots", "Action001=" + B0 + "\r\n", {}, 0},
        TLoadCase{"EmptyFile", "", {}, 0}),
    [](const testing::TestParamInfo<TLoadCase>& info) { return info.param.name; });

TEST_F(HidProcessorTest, LoadKeepsModeWhenTheKeyIsMissing) {
    engine.Mode = true;
    Write(File(), "HidIndex=3\r\n");
    engine.LoadFromFile(File());
    EXPECT_TRUE(engine.Mode);
    Write(File(), "Mode=0\r\n");
    engine.LoadFromFile(File());
    EXPECT_FALSE(engine.Mode);
}

TEST_F(HidProcessorTest, SavingRenumbersTheSlotsFromZero) {
    Write(File(), "Action00=" + B0 + "\r\nAction05=" + C1 + "\r\n");
    engine.LoadFromFile(File());
    engine.SaveToFile(File());
    EXPECT_EQ(Read(File()), "HidIndex=0\r\nMode=0\r\nAction00=" + B0 + "\r\nAction01=" + C1 + "\r\n");
}

TEST_F(HidProcessorTest, BlankNameMeansTheDefaultPath) {
    TSpecialFolderOverride folders([&](int id, std::string& path) {
        EXPECT_EQ(id, 28);
        path = dir.Path("Local");
        return true;
    });
    ASSERT_TRUE(ForceDirectories(dir.Path("Local")));
    EXPECT_EQ(engine.DefaultSettingsPath(), dir.Path("Local\\Clickwell\\kwhid.ini"));
    EXPECT_TRUE(DirectoryExists(dir.Path("Local\\Clickwell")));

    engine.FileName = "kwhid-wmp.ini";
    engine.HidIndex = 5;
    engine.SaveToFile(" \t");
    EXPECT_EQ(Read(dir.Path("Local\\Clickwell\\kwhid-wmp.ini")), "HidIndex=5\r\nMode=0\r\n");
    engine.HidIndex = 1;
    engine.LoadFromFile("");
    EXPECT_EQ(engine.HidIndex, 5);
}

TEST(SpecialFolderPath, EndsWithExactlyOneBackslash) {
    struct {
        bool found;
        const char* folder;
        const char* expected;
    } cases[] = {
        {true, "C:\\Users\\u\\AppData\\Local", "C:\\Users\\u\\AppData\\Local\\"},
        {true, "C:\\", "C:\\"},
        {true, "", "\\"},
        {false, "ignored", "\\"},
    };
    for (const auto& c : cases) {
        TSpecialFolderOverride folders([&](int, std::string& path) {
            path = c.folder;
            return c.found;
        });
        EXPECT_EQ(SpecialFolderPath(28), c.expected) << c.folder;
    }
}

#if defined(_WIN32)
TEST(DefaultSettingsPath, LiesInTheUsersLocalApplicationData) {
    auto clock = TVirtualClock::Install();
    THidProcessor engine;
    const std::string path = engine.DefaultSettingsPath();
    char local[MAX_PATH];
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, local, 28, TRUE));
    EXPECT_EQ(path, std::string(local) + "\\Clickwell\\kwhid.ini");
    EXPECT_TRUE(DirectoryExists(std::string(local) + "\\Clickwell"));
}
#endif

// A save that cannot complete must leave the former file exactly as it was.
class AtomicSave : public HidProcessorTest {
protected:
    void SetUp() override {
        Append(engine, B0);
        engine.HidIndex = 3;
        Write(File(), before);
    }
    void ExpectOldFileIntact() {
        EXPECT_EQ(Read(File()), before);
        std::string ignored;
        EXPECT_FALSE(ReadWholeFile(TemporaryNameFor(File()), ignored)) << "the temporary file is cleaned up";
    }
    const std::string before = "HidIndex=1\r\nMode=-1\r\nAction00=NFFFFFFFFFFFFFFFF0\r\n";
};

#if defined(_WIN32)
TEST_F(AtomicSave, TargetHeldOpenByAnotherProgram) {
    // An editor or a virus scanner holding the file without delete sharing makes
    // the replacement fail after the new content was written in full.
    HANDLE held = CreateFileA(File().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    engine.SaveToFile(File());
    CloseHandle(held);
    ExpectOldFileIntact();
    engine.SaveToFile(File());
    EXPECT_NE(Read(File()), before) << "once released, the save goes through";
}
#else
TEST_F(AtomicSave, DiskFullHalfwayThroughTheWrite) {
    // A file size limit fails the write after a few bytes, as a full disk would.
    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto* previous = signal(SIGXFSZ, SIG_IGN);
    struct rlimit tiny = old;
    tiny.rlim_cur = 10;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
    engine.SaveToFile(File());
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, previous);
    ExpectOldFileIntact();
}
#endif

TEST_F(AtomicSave, FolderThatDoesNotExist) {
    engine.SaveToFile(dir.Path("gone\\kwhid.ini"));
    ExpectOldFileIntact();
}
}  // namespace
