// Unloading a library that holds the bindings releases HID.DLL, SetupAPI.dll and
// cfgmgr32.dll: the player unloads a plug-in and goes on running.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/hid/bindings_fixture.h"

namespace {

using Finalisation = TBindingTest;

TEST_F(Finalisation, UnloadingReleasesTheLibraries) {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string probe(path, length);
    probe = probe.substr(0, probe.find_last_of('\\')) + "\\kwhid_finalisation_probe.dll";
    HMODULE library = LoadLibraryExA(probe.c_str(), nullptr, 0);
    ASSERT_NE(library, nullptr) << probe << ": error " << GetLastError();
    auto bindAll = reinterpret_cast<bool (*)()>(reinterpret_cast<void (*)()>(GetProcAddress(library, "BindAll")));
    ASSERT_NE(bindAll, nullptr);

    ASSERT_TRUE(bindAll());
    EXPECT_TRUE(Loaded("hid.dll"));
    EXPECT_TRUE(Loaded("setupapi.dll"));
    EXPECT_TRUE(Loaded("cfgmgr32.dll"));

    FreeLibrary(library);
    EXPECT_FALSE(Loaded("hid.dll"));
    EXPECT_FALSE(Loaded("setupapi.dll"));
    EXPECT_FALSE(Loaded("cfgmgr32.dll"));
}

}  // namespace
