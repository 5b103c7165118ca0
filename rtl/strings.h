#pragma once
#include <string_view>

// Without leading and trailing characters of codes 0 to 32, as Pascal's Trim.
std::string_view Trim(std::string_view text) noexcept;
// Equal without regard to the letter case of A..Z.
bool SameText(std::string_view a, std::string_view b) noexcept;
