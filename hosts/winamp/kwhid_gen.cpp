// The Winamp general-purpose plug-in entry: the record Winamp reads, and the three
// callbacks that start, configure and stop the engine. Winamp calls all of them on its
// main thread, which is therefore the engine's UI thread.
#include <windows.h>

#include <cstdio>
#include <string>

#include "hid/kwhid.h"
#include "players/HidProcessorWinamp.h"
#include "players/winamp.h"
#include "rtl/exception.h"
#include "rtl/win32/module.h"
#include "ui/FrmConfig.h"
#include "util/kwwin32.h"

namespace {
constexpr const char* DescriptionPrefix = "Orlanvale Clickwell v";

// The record points into it for as long as the library is loaded. A plain array: no
// allocation, and nothing to destroy while the library unloads.
char PluginDescription[64] = "";

void SetDescription() noexcept {
    std::string version;
    try {
        version = GetVersionText(ThisModuleFileName());
    } catch (...) {
        // Without memory for the version text the plug-in still names itself.
    }
    std::snprintf(PluginDescription, sizeof PluginDescription, "%s%s", DescriptionPrefix, version.c_str());
}

void ShowError(const char* text) noexcept {
    MessageBoxA(WinampPlugin.HostWindow, text, "Error!", MB_OK);
}

// The engine of this plug-in, on the real HID ports.
TWinampHidProcessor* Engine() noexcept {
    static bool portsChosen = false;
    if (!portsChosen) {
        try {
            UseHidPortsForEngine();
            portsChosen = true;
        } catch (...) {
            return nullptr;
        }
    }
    return GetHidProcessor();
}


int __cdecl PluginInit() noexcept {
    return Engine() ? 0 : -1;
}

void __cdecl PluginConfig() noexcept {
    TWinampHidProcessor* engine = Engine();
    if (!engine) {
        ShowError("HID class is not initialized.");
        return;
    }
    try {
        RunConfiguration(*engine);
    } catch (...) {
        ShowError(CurrentExceptionText().c_str());
    }
}

void __cdecl PluginQuit() noexcept {
    FreeHidProcessor();
}
}  // namespace

// Winamp looks for this one export in every gen_*.dll of its Plugins folder.
extern "C" winamp::GeneralPurposePlugin* __cdecl winampGetGeneralPurposePlugin() noexcept {
    SetDescription();
    WinampPlugin.Version = winamp::PluginVersion;
    WinampPlugin.Description = PluginDescription;
    WinampPlugin.Init = &PluginInit;
    WinampPlugin.Config = &PluginConfig;
    WinampPlugin.Quit = &PluginQuit;
    return &WinampPlugin;
}
