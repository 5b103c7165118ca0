#include <windows.h>

#include <gtest/gtest.h>

#include <string>

// These pin down what the Wine runner (tools/wine-run) promises the other win32 tests.

TEST(WineRunner, AnswersVersionAndModuleName)
{
    EXPECT_NE(GetVersion(), 0u);

    char path[MAX_PATH] = {};
    const DWORD len = GetModuleFileNameA(nullptr, path, MAX_PATH);
    ASSERT_GT(len, 0u);
    ASSERT_LT(len, static_cast<DWORD>(MAX_PATH));
    const std::string name(path, len);
    EXPECT_NE(name.find("infra_wine_test.exe"), std::string::npos) << name;
}

TEST(WineRunner, RunsInPrefixOfBuildTree)
{
    char prefix[1024] = {};
    const DWORD len = GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix);
    ASSERT_GT(len, 0u) << "not run under Wine";
    const std::string p(prefix, len);
    EXPECT_EQ(p.find("/.wine"), std::string::npos) << p;
}

TEST(WineRunner, IsA32BitSystemFolder)
{
    // A 32-bit prefix: system32 is the 32-bit folder and there is no WOW64 redirection.
    BOOL wow64 = TRUE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_FALSE(wow64);
}

TEST(WineRunner, CreatesWindowsWithoutDisplay)
{
    // The prefix's null graphics driver; without it this fails with error 1400.
    HWND wnd = CreateWindowExA(0, "STATIC", "kw", WS_POPUP, 0, 0, 100, 50,
                               nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(wnd, nullptr) << "error " << GetLastError();
    EXPECT_TRUE(IsWindow(wnd));
    EXPECT_TRUE(DestroyWindow(wnd));
}

TEST(WineRunner, RunsATimerInAMessageLoop)
{
    HWND wnd = CreateWindowExA(0, "STATIC", "kw", WS_POPUP, 0, 0, 10, 10,
                               nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(wnd, nullptr);
    ASSERT_NE(SetTimer(wnd, 1, 20, nullptr), 0u);
    MSG msg;
    bool fired = false;
    const DWORD start = GetTickCount();
    while (!fired && GetTickCount() - start < 5000 && GetMessageA(&msg, nullptr, 0, 0) > 0)
        fired = msg.message == WM_TIMER && msg.hwnd == wnd;
    EXPECT_TRUE(fired);
    KillTimer(wnd, 1);
    DestroyWindow(wnd);
}
