// Unloading a library that holds the bindings frees nothing: its static destructors run
// under the loader lock, where no library may be freed. Only the explicit teardown, which
// a host calls before it is unloaded, releases HID.DLL, SetupAPI.dll and cfgmgr32.dll.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/hid/bindings_fixture.h"

namespace {

const char* const Libraries[] = {"hid.dll", "setupapi.dll", "cfgmgr32.dll"};

class Finalisation : public TBindingTest {
protected:
    void SetUp() override {
        TBindingTest::SetUp();
        char path[MAX_PATH] = {};
        const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
        std::string probe(path, length);
        probe = probe.substr(0, probe.find_last_of('\\')) + "\\kwhid_finalisation_probe.dll";
        probe_ = LoadLibraryExA(probe.c_str(), nullptr, 0);
        ASSERT_NE(probe_, nullptr) << probe << ": error " << GetLastError();
        bindAll_ = Export<bool (*)()>("BindAll");
        unbindAll_ = Export<void (*)()>("UnbindAll");
        ASSERT_NE(bindAll_, nullptr);
        ASSERT_NE(unbindAll_, nullptr);
    }
    void TearDown() override {
        if (probe_) FreeLibrary(probe_);
        Unbind();
        // What an unloaded probe kept stays with the process: dropped here, so that the next
        // test can install its own system.
        for (const char* library : Libraries)
            for (int reference = 0; reference < 4 && GetModuleHandleA(library); ++reference)
                FreeLibrary(GetModuleHandleA(library));
        TBindingTest::TearDown();
    }
    template <class F>
    F Export(const char* name) {
        return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(probe_, name)));
    }
    void Unload() {
        FreeLibrary(probe_);
        probe_ = nullptr;
    }

    HMODULE probe_ = nullptr;
    bool (*bindAll_)() = nullptr;
    void (*unbindAll_)() = nullptr;
};

TEST_F(Finalisation, UnloadingFreesNothing) {
    ASSERT_TRUE(bindAll_());
    for (const char* library : Libraries) EXPECT_TRUE(Loaded(library)) << library;

    Unload();

    for (const char* library : Libraries) EXPECT_TRUE(Loaded(library)) << library << " was freed by the unload";
}

TEST_F(Finalisation, TheTeardownBeforeUnloadingReleasesThem) {
    ASSERT_TRUE(bindAll_());

    unbindAll_();

    for (const char* library : Libraries) EXPECT_FALSE(Loaded(library)) << library;
    Unload();
    for (const char* library : Libraries) EXPECT_FALSE(Loaded(library)) << library;
}

}  // namespace
