#pragma once
// Winamp's window-message interface: the command numbers of its buttons and the
// user-message requests this plug-in sends to the main window; and the record by
// which Winamp finds a general-purpose plug-in.
#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace winamp {
// WM_COMMAND word parameters: Winamp's own buttons and commands.
constexpr uint16_t CommandPrevious = 40044;
constexpr uint16_t CommandPlay = 40045;
constexpr uint16_t CommandPause = 40046;
constexpr uint16_t CommandStop = 40047;
constexpr uint16_t CommandNext = 40048;
constexpr uint16_t CommandVolumeUp = 40058;
constexpr uint16_t CommandVolumeDown = 40059;
constexpr uint16_t CommandFastForward = 40060;
constexpr uint16_t CommandRewind = 40061;

// WM_USER long parameters: requests to Winamp.
constexpr int32_t IpcIsPlaying = 104;   // answers 1 while playing
constexpr int32_t IpcSetVolume = 122;   // word parameter: the volume, 0 to 255

constexpr int32_t PlayStatePlaying = 1;
constexpr uint32_t VolumeMuted = 0;
constexpr uint32_t VolumeUnmuted = 128;

// The record a general-purpose plug-in hands Winamp. Winamp reads the first five
// fields and fills in the last two before it calls Init; it calls the callbacks with
// the C calling convention, whatever its own default.
struct GeneralPurposePlugin {
    int32_t Version;          // PluginVersion
    const char* Description;  // single-byte, zero-terminated; lives as long as the library
    int(__cdecl* Init)();     // 0: running; anything else: failed
    void(__cdecl* Config)();
    void(__cdecl* Quit)();
    HWND HostWindow;          // Winamp's main window
    HINSTANCE Module;         // this library, as Winamp loaded it
};

constexpr int32_t PluginVersion = 0x10;

// Winamp's layout: 32-bit fields, 28 bytes.
static_assert(sizeof(GeneralPurposePlugin) == 28);
static_assert(offsetof(GeneralPurposePlugin, Version) == 0);
static_assert(offsetof(GeneralPurposePlugin, Description) == 4);
static_assert(offsetof(GeneralPurposePlugin, Init) == 8);
static_assert(offsetof(GeneralPurposePlugin, Config) == 12);
static_assert(offsetof(GeneralPurposePlugin, Quit) == 16);
static_assert(offsetof(GeneralPurposePlugin, HostWindow) == 20);
static_assert(offsetof(GeneralPurposePlugin, Module) == 24);
}  // namespace winamp
