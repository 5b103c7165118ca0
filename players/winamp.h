#pragma once
// Winamp's window-message interface: the command numbers of its buttons and the
// user-message requests this plug-in sends to the main window.
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
}  // namespace winamp
