#pragma once
// The one conversion between bytes (module fields, input files) and text on screen.
//
// Modules store Chinese text in GBK, files we write are UTF-8, and input files may also be
// GBK-encoded. Bytes are shown as UTF-8 when they are valid UTF-8, else as GBK; text the user types
// goes out as GBK when every character has a GBK form (ASCII stays unchanged), else as UTF-8.
// Nothing else in the program converts between bytes and text.

#include <QString>

#include <optional>
#include <string>
#include <string_view>

namespace varnix {

// Bytes as text: UTF-8 when valid, else GBK (undecodable bytes become U+FFFD). A leading UTF-8
// byte-order mark is kept as U+FEFF; file readers drop it themselves.
QString BytesToDisplay(std::string_view bytes);

// Text as bytes: GBK when the whole text has a GBK form, else UTF-8.
std::string DisplayToBytes(const QString& text);

// True when `bytes` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// The GBK halves, exposed for tests and for the file readers.
QString DecodeGbk(std::string_view bytes);
std::optional<std::string> EncodeGbk(const QString& text);

// Whether Qt itself carries a GBK codec (it does when built with ICU); otherwise glibc's iconv
// is used. The iconv path is reachable directly so that both can be checked against each other.
bool QtHasGbk();
QString DecodeGbkIconv(std::string_view bytes);
std::optional<std::string> EncodeGbkIconv(const QString& text);

// Text of a whole file read as bytes: a leading UTF-8 byte-order mark is dropped, then the
// rest is decoded as BytesToDisplay does.
QString FileBytesToText(std::string_view bytes);

} // namespace varnix
