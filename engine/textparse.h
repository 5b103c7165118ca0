#pragma once
// Lenient number readers for the settings file, which people also edit by hand.
#include <cstdint>
#include <string_view>

// Reads a signed decimal number: leading blanks (character codes 1 to 32), at most one sign,
// at least one digit and nothing after them; the value must fit in 32 bits.
// Returns false and leaves value untouched when the text is not such a number.
bool TryParseInt32(std::string_view text, int32_t& value) noexcept;
