// A host may free our library while one of our threads still runs in it (a player that
// unloads a plug-in without asking whether it may): the thread keeps the library mapped
// until it has left our code, and the library goes once it has.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "rtl/win32/handle.h"

namespace {
const char* const ProbeName = "kw_thread_module_probe.dll";

std::string ProbePath() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\')) + "\\" + ProbeName;
}

TEST(ThreadModule, AThreadKeepsItsLibraryMappedUntilItHasLeftIt) {
    HMODULE library = LoadLibraryA(ProbePath().c_str());
    ASSERT_NE(library, nullptr) << ProbePath() << ": error " << GetLastError();
    auto start = reinterpret_cast<bool (*)(HANDLE)>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "StartWaiter")));
    ASSERT_NE(start, nullptr);
    TUniqueEvent go(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(start(go.get()));

    FreeLibrary(library);
    EXPECT_NE(GetModuleHandleA(ProbeName), nullptr) << "the library was unmapped while our thread ran in it";

    SetEvent(go.get());
    bool gone = false;
    for (int waited = 0; waited < 500 && !gone; ++waited) {
        gone = GetModuleHandleA(ProbeName) == nullptr;
        if (!gone) Sleep(10);
    }
    EXPECT_TRUE(gone) << "the thread's reference outlived the thread";
}
}  // namespace
