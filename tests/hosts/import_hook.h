#pragma once
#include <windows.h>

#include <cstring>
#include <string>

// Replaces one import of a module, the way the module calls it: through its import
// address table. Puts the original back when it goes.
class TImportHook {
public:
    TImportHook(HMODULE module, const char* library, const char* function, void* replacement) {
        auto* base = reinterpret_cast<BYTE*>(module);
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name; ++d) {
            if (lstrcmpiA(reinterpret_cast<const char*>(base + d->Name), library) != 0) continue;
            auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
            auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
            for (; names->u1.AddressOfData; ++names, ++slots) {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
                const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
                if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
                slot_ = reinterpret_cast<ULONG_PTR*>(&slots->u1.Function);
            }
        }
        if (!slot_) return;
        original_ = *slot_;
        Write(reinterpret_cast<ULONG_PTR>(replacement));
    }
    ~TImportHook() {
        if (slot_) Write(original_);
    }
    TImportHook(const TImportHook&) = delete;
    TImportHook& operator=(const TImportHook&) = delete;
    bool Installed() const { return slot_ != nullptr; }

private:
    void Write(ULONG_PTR value) {
        DWORD old = 0;
        VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &old);
        *slot_ = value;
        VirtualProtect(slot_, sizeof *slot_, old, &old);
    }
    ULONG_PTR* slot_ = nullptr;
    ULONG_PTR original_ = 0;
};

// A device that lists, and so passes the probe (an open without access), but refuses
// every open for reports: those are the overlapped ones. Installed over a module's import
// of CreateFileA, it calls the real entry by its address, as the module's own import may
// be the one replaced.
inline std::string refusedDevicePath;
inline HANDLE WINAPI RefusingCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                         DWORD disposition, DWORD flags, HANDLE templateFile) {
    using TCreateFileA = decltype(&CreateFileA);
    static const auto real = reinterpret_cast<TCreateFileA>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateFileA")));
    if ((flags & FILE_FLAG_OVERLAPPED) && lstrcmpiA(name, refusedDevicePath.c_str()) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return real(name, access, share, security, disposition, flags, templateFile);
}
