#pragma once
// The built-in string table: key, Chinese text and English text of every user-visible text.

#include <cstddef>
#include <span>

namespace varnix {

// One row of the table. The texts are UTF-8; a line break inside a text is "\r\n".
struct TLangRow {
    const char* Name;
    const char* Cn;
    const char* En;
};

inline constexpr std::size_t BuiltinLangRowCount = 400;

// All rows in registration order (the order of a generated Lang.txt).
std::span<const TLangRow> BuiltinLangTable();

} // namespace varnix
