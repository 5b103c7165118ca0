#include "engine/textparse.h"

bool TryParseInt32(std::string_view text, int32_t& value) noexcept
{
    size_t pos = 0;
    while (pos < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[pos]);
        if (c < 1 || c > 32)
            break;
        ++pos;
    }

    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    if (pos == text.size())
        return false;

    // The magnitude is capped just above the largest one allowed, so long runs of digits
    // (leading zeros included) cannot overflow the accumulator.
    constexpr uint64_t limit = uint64_t{1} << 31;  // |INT32_MIN|
    uint64_t magnitude = 0;
    for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c < '0' || c > '9')
            return false;
        magnitude = magnitude * 10 + static_cast<unsigned>(c - '0');
        if (magnitude > limit)
            magnitude = limit + 1;
    }
    if (magnitude > (negative ? limit : limit - 1))
        return false;

    value = negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude))
                     : static_cast<int32_t>(magnitude);
    return true;
}
