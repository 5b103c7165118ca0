// The user's log on the engine's ports, on the fake HID platform: the switch below
// HKEY_CURRENT_USER (this program runs in a prefix of its own), the file beside the
// settings file, every line of a report's road, and nothing at all while it is off.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/hidprocessor.h"
#include "hid/kwhid.h"
#include "iocore/kwlogfile.h"
#include "rtl/files.h"
#include "rtl/format.h"
#include "rtl/shellfolders.h"
#include "tests/fakeos/fakeos.h"
#include "tests/hid/bindings_fixture.h"
#include "tests/iocore/test_support.h"
#include "tests/support/temp_folder.h"

namespace {
constexpr USHORT ReportLength = 4;

class EngineLog : public TBindingTest {
protected:
    void SetUp() override {
        TBindingTest::SetUp();
        KwFakeDevice d{};
        d.Product = L"Remote";
        d.Caps.InputReportByteLength = ReportLength;
        d.Caps.UsagePage = 0x0C;
        device = KwFake_AddDevice(&d);
        UseHidPortsForEngine();
    }
    void TearDown() override {
        SetHidPortFactory(nullptr);
        SwitchOff();
        TBindingTest::TearDown();
    }
    static void Switch(DWORD level) {
        TUniqueRegKey key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, LogSwitchKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                                  nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key.get(), LogSwitchValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&level),
                                 sizeof level),
                  ERROR_SUCCESS);
    }
    static void SwitchOff() { RegDeleteKeyValueA(HKEY_CURRENT_USER, LogSwitchKey, LogSwitchValue); }
    static TkwBaseIO* PortOf(IHidPort& port) { return dynamic_cast<TkwBaseIO*>(&port.Component()); }

    std::string LogPath() const { return dir.Path("Clickwell\\kwlog_attach_test.log"); }
    std::vector<std::string> Lines() const {
        std::string content;
        ReadWholeFile(LogPath(), content);
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2)
            lines.push_back(content.substr(start, end - start));
        return lines;
    }
    size_t Count(const std::string& text) const {
        size_t n = 0;
        for (const std::string& line : Lines())
            if (line.find(text) != std::string::npos) ++n;
        return n;
    }
    bool FileClosed() const {
        TUniqueFile file(CreateFileA(LogPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        return static_cast<bool>(file);
    }

    // A learned button on the fake remote, read by an engine's handler: the road of a press.
    void PressOnce() {
        const std::string settings = dir.Path("kwhid.ini");
        ASSERT_TRUE(ReplaceFileContent(settings, "HidIndex=0\r\nMode=-1\r\nAction00=B12345678FFFFFFFF0\r\n"));
        THidProcessor engine;
        engine.LoadFromFile(settings);
        engine.RestartHandlers();
        ASSERT_EQ(engine.Handlers.Count(), 1);
        ASSERT_TRUE(KwFake_WaitOpenHandles(device, 1, 5000));
        const uint8_t report[] = {1, 0xCD};
        ASSERT_GE(KwFake_SendReport(device, report, sizeof report), 1);
        // The port logs a report before it hands it to the handler.
        THidDevicehandler* handler = engine.Handlers.Items(0);
        ASSERT_TRUE(PumpUntil([&] { return handler->Signature() != 0xFFFFFFFFu; }));
        engine.StopHandlers();
    }

    TTempFolder dir;
    TSpecialFolderOverride folder{[this](int, std::string& path) {
        path = dir.Root();
        return true;
    }};
    int device = -1;
};

TEST_F(EngineLog, OffAttachesNothingAndWritesNoFile) {
    for (const char* name : {"no value", "zero"}) {
        if (std::string(name) == "zero") Switch(0);
        std::unique_ptr<IHidPort> port = CreateHidPort();
        ASSERT_TRUE(port);
        EXPECT_EQ(PortOf(*port)->Log(), nullptr) << name;
        PressOnce();
        EXPECT_EQ(GetFileAttributesA(LogPath().c_str()), INVALID_FILE_ATTRIBUTES) << name;
    }
}

TEST_F(EngineLog, OnEveryPortOfTheEngineWritesTheRoadOfAPress) {
    Switch(2);
    PressOnce();
    EXPECT_EQ(Count("log opened: "), 1u) << "one log for the enumerator and the handler's port";
    for (const char* line : {"1 kwHID: DeviceListLoad ...", "1 kwHID: Detected devices: 1", "1 kwHID: try to open device",
                             "2 kwHID: Start monitoring thread", "2 kwHID: Do input data [4] bytes",
                             "1 kwHID: close device.", "2 kwHID: ... exit monitoring thread."})
        EXPECT_GE(Count(line), 1u) << line;
    EXPECT_TRUE(FileClosed()) << "the last port took the log with it";
}

TEST_F(EngineLog, MilestonesOnlyLeaveTheReportsOut) {
    Switch(1);
    PressOnce();
    EXPECT_GE(Count("1 kwHID: try to open device"), 1u);
    EXPECT_GE(Count("1 kwHID: close device."), 1u);
    EXPECT_EQ(Count(" 2 "), 0u);
}

TEST_F(EngineLog, APortFreedWhileOpenStillLogsItsClose) {
    Switch(2);
    std::unique_ptr<IHidPort> port = CreateHidPort();
    port->DeviceListRefresh();
    port->SetDeviceIndex(0);
    port->SetActive(true);
    ASSERT_TRUE(KwFake_WaitOpenHandles(device, 1, 5000));
    port.reset();
    EXPECT_EQ(Count("1 kwHID: close device."), 1u);
    EXPECT_EQ(Count("2 kwHID: ... exit monitoring thread."), 1u);
    EXPECT_TRUE(FileClosed());
}

TEST_F(EngineLog, PortsShareOneLogWhileAnyLives) {
    Switch(2);
    std::unique_ptr<IHidPort> first = CreateHidPort();
    std::unique_ptr<IHidPort> second = CreateHidPort();
    ASSERT_NE(PortOf(*first)->Log(), nullptr);
    EXPECT_EQ(PortOf(*first)->Log(), PortOf(*second)->Log());
    first.reset();
    EXPECT_FALSE(FileClosed());
    second.reset();
    EXPECT_TRUE(FileClosed());
    // Read again for the next port: turned off meanwhile, it has none.
    SwitchOff();
    std::unique_ptr<IHidPort> third = CreateHidPort();
    EXPECT_EQ(PortOf(*third)->Log(), nullptr);
    EXPECT_EQ(Count("log opened: "), 1u);
}
}  // namespace
