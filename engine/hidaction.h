#pragma once
// One learned mapping from a HID button to a player action, and its one-line text form in
// the settings file.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/kwcrc.h"
#include "rtl/object.h"

using TActionCode = uint8_t;

// Codes 0 to 15; in the text form each code is the letter 'A' + code.
inline constexpr std::array<std::string_view, 16> ActionNames{
    "Unknown",   "Play/Pause", "Next",        "Previous",
    "Stop",      "Volume Up",  "Volume Down", "Forward",
    "Backward",  "Play",       "Pause",       "Full Screen",
    "Eject",     "Mute",       "Shuffle",     "Repeat",
};

// A set of action codes, bit n standing for code n.
using TActionSet = uint16_t;

constexpr bool ActionInSet(TActionSet set, unsigned code)
{
    return code < 16 && ((set >> code) & 1u) != 0;
}

constexpr TActionSet AllActions = 0xFFFF;

// Volume Up, Volume Down, Forward, Backward: these repeat while their button is held.
constexpr TActionSet RepeatableActions = (1u << 5) | (1u << 6) | (1u << 7) | (1u << 8);

class THidAction : public TPersistent {
public:
    TActionCode Code = 0;                      // 0 ("Unknown") never sends a command
    uint32_t PressSignature = SignatureNone;   // burst that starts the action
    uint32_t ReleaseSignature = SignatureNone; // burst that ends a held repeatable action
    int32_t DeviceIndex = -1;                  // position in the port's device list, -1 none
    // Learning: the next bytes belong to the press (true) or the release (false).
    // Engine: the repeatable action is being held.
    bool Pressed = false;

    // Empty for a code outside the table; live records never hold one.
    std::string ActionName() const;
    void AddByte(uint8_t b, bool press);
    void ResetSignatures();
    bool IsAssigned() const;
    bool IsRepeatable() const;
    // A held repeatable action with a release signature answers only to that; every other
    // action only to its press signature.
    bool Matches(uint32_t signature) const;
    // Copies everything but Pressed, which is state of the owner, not of the mapping.
    void Assign(const TPersistent* source) override;

    // Letter, press and release signatures as 8 upper-case hex digits each, device index.
    std::string AsText() const;
    // Reads the form written by AsText without validating it; Pressed is left alone.
    void SetAsText(std::string_view text);
};
