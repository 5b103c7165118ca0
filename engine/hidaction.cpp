#include "engine/hidaction.h"

#include <charconv>

#include "engine/textparse.h"

namespace {

// The part of text from the zero-based position first, at most count characters long;
// empty when the text is shorter.
std::string_view Piece(std::string_view text, size_t first, size_t count = std::string_view::npos)
{
    return first < text.size() ? text.substr(first, count) : std::string_view{};
}

// Reads up to 8 hex digits of either case; an empty piece or any other character gives
// SignatureNone.
uint32_t ReadSignature(std::string_view piece)
{
    if (piece.empty())
        return SignatureNone;
    uint32_t value = 0;
    for (const char c : piece) {
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else
            return SignatureNone;
        value = (value << 4) | digit;
    }
    return value;
}

char* WriteSignature(char* out, uint32_t value)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    for (int shift = 28; shift >= 0; shift -= 4)
        *out++ = digits[(value >> shift) & 0xF];
    return out;
}

}  // namespace

std::string THidAction::ActionName() const
{
    return Code < ActionNames.size() ? std::string(ActionNames[Code]) : std::string();
}

void THidAction::AddByte(uint8_t b, bool press)
{
    uint32_t& signature = press ? PressSignature : ReleaseSignature;
    signature = UpdateSignature(b, signature);
}

void THidAction::ResetSignatures()
{
    PressSignature = SignatureNone;
    ReleaseSignature = SignatureNone;
}

bool THidAction::IsAssigned() const
{
    return PressSignature != SignatureNone && DeviceIndex != -1 && Code != 0;
}

bool THidAction::IsRepeatable() const
{
    return ActionInSet(RepeatableActions, Code);
}

bool THidAction::Matches(uint32_t signature) const
{
    if (Pressed && IsRepeatable() && ReleaseSignature != SignatureNone)
        return signature == ReleaseSignature;
    return signature == PressSignature;
}

void THidAction::Assign(const TPersistent* source)
{
    if (source == nullptr)
        return;
    const auto* action = dynamic_cast<const THidAction*>(source);
    if (action == nullptr) {
        TPersistent::Assign(source);
        return;
    }
    Code = action->Code;
    PressSignature = action->PressSignature;
    ReleaseSignature = action->ReleaseSignature;
    DeviceIndex = action->DeviceIndex;
}

std::string THidAction::AsText() const
{
    // Letter, 16 hex digits, and at most 11 characters for the device index.
    char text[1 + 16 + 11];
    char* out = text;
    // Modulo 256 like the reading, so even a code outside the table survives a round trip.
    *out++ = static_cast<char>('A' + Code);
    out = WriteSignature(out, PressSignature);
    out = WriteSignature(out, ReleaseSignature);
    out = std::to_chars(out, text + sizeof text, DeviceIndex).ptr;
    return std::string(text, out);
}

void THidAction::SetAsText(std::string_view text)
{
    // A missing first character reads as byte 0, so even an empty text gives a defined
    // (out-of-table) code, 191, which the loader drops.
    const uint8_t letter = text.empty() ? 0 : static_cast<uint8_t>(text[0]);
    Code = static_cast<TActionCode>(letter - 'A');
    PressSignature = ReadSignature(Piece(text, 1, 8));
    ReleaseSignature = ReadSignature(Piece(text, 9, 8));
    int32_t device;
    DeviceIndex = TryParseInt32(Piece(text, 17), device) ? device : -1;
}
