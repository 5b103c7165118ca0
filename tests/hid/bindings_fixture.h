#pragma once
// What the binding tests share: a system of fake libraries, fresh for every test, and a
// count of the entry look-ups the code under test makes.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "hid/kwhidw32.h"
#include "hid/kwwin32di.h"
#include "tests/fakeos/fakeos.h"

// Every test starts unbound, on the full fake system, with no devices.
class TBindingTest : public testing::Test {
protected:
    void SetUp() override {
        Unbind();
        KwFake_Reset();
        ASSERT_TRUE(KwFake_InstallAll()) << "error " << GetLastError();
    }
    void TearDown() override {
        Unbind();
        KwFake_Reset();
    }
    static void Unbind() {
        kwhidw32::FreeHidLibrary();
        kwwin32di::FreeSetupApi();
    }
    // variant: as KwFake_Install takes it; "" the full build.
    static void Install(const char* library, const char* variant) {
        ASSERT_TRUE(KwFake_Install(library, variant))
            << library << " " << variant << ": error " << GetLastError();
    }
    static bool Loaded(const char* module) { return GetModuleHandleA(module) != nullptr; }
};

// Counts GetProcAddress calls by module and name, by patching this program's import of it:
// the bindings are linked into the program and call it through that slot.
class TLookupCounter {
public:
    TLookupCounter() {
        slot_ = FindSlot();
        if (!slot_) return;
        Original() = reinterpret_cast<TGetProcAddress>(*slot_);
        Active() = this;
        Write(reinterpret_cast<ULONG_PTR>(&Counting));
    }
    ~TLookupCounter() {
        if (!slot_) return;
        Write(reinterpret_cast<ULONG_PTR>(Original()));
        Active() = nullptr;
    }
    TLookupCounter(const TLookupCounter&) = delete;
    TLookupCounter& operator=(const TLookupCounter&) = delete;

    bool Installed() const { return slot_ != nullptr; }
    int Count(HMODULE module, const std::string& name) {
        std::lock_guard<std::mutex> guard(lock_);
        return counts_[{module, name}];
    }
    int Total(HMODULE module) {
        std::lock_guard<std::mutex> guard(lock_);
        int total = 0;
        for (const auto& [key, count] : counts_)
            if (key.first == module) total += count;
        return total;
    }

private:
    using TGetProcAddress = FARPROC(WINAPI*)(HMODULE, LPCSTR);

    static TLookupCounter*& Active() {
        static TLookupCounter* active = nullptr;
        return active;
    }
    static TGetProcAddress& Original() {
        static TGetProcAddress original = nullptr;
        return original;
    }
    static FARPROC WINAPI Counting(HMODULE module, LPCSTR name) {
        TLookupCounter* self = Active();
        // Names only: a value below 64K is an ordinal.
        if (self && reinterpret_cast<ULONG_PTR>(name) > 0xFFFF) {
            std::lock_guard<std::mutex> guard(self->lock_);
            ++self->counts_[{module, name}];
        }
        return Original()(module, name);
    }
    static ULONG_PTR* FindSlot() {
        auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name; ++d) {
            if (lstrcmpiA(reinterpret_cast<const char*>(base + d->Name), "KERNEL32.dll") != 0) continue;
            auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
            auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
            for (; names->u1.AddressOfData; ++names, ++slots) {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
                const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
                if (std::strcmp(reinterpret_cast<const char*>(byName->Name), "GetProcAddress") == 0)
                    return reinterpret_cast<ULONG_PTR*>(&slots->u1.Function);
            }
        }
        return nullptr;
    }
    void Write(ULONG_PTR value) {
        DWORD old = 0;
        VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &old);
        *slot_ = value;
        VirtualProtect(slot_, sizeof *slot_, old, &old);
    }

    ULONG_PTR* slot_ = nullptr;
    std::mutex lock_;
    std::map<std::pair<HMODULE, std::string>, int> counts_;
};
