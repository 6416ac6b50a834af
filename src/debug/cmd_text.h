#pragma once
// The two forms of a command of the debugging window: text (sent as the bytes the text codec
// gives it) and hex pairs ("0D 0A 41 42", sent as those bytes). Ticking a row's Hex box turns the
// text into pairs, unticking turns the pairs back into text; the bytes sent stay the same both
// ways. Qt Core only.

#include <QString>

#include <optional>

namespace varnix {

// True when `text` is at least two groups of exactly two hex digits separated by white space
// ("0D 0A 41 42"): what a user types when they mean bytes, and how the window writes them.
bool LooksLikeHexPairs(const QString& text);

// The command's bytes as upper-case pairs separated by single spaces. Text that already reads as
// hex pairs (LooksLikeHexPairs) is taken as hex and only tidied: ticking Hex after typing
// "0d 0a" gives "0D 0A", not the hex of the characters.
QString CmdTextToHex(const QString& text);

// The text for hex pairs (white space anywhere is ignored). Input that is not an even number of
// hex digits is not hex and comes back unchanged. std::nullopt when the bytes have no faithful
// text form, so the command must stay in hex: a control character (a single-line field cannot hold
// CR or LF, and the list file keeps one row per line), bytes the text codec would send differently
// (invalid UTF-8 that is not GBK either, or UTF-8 Chinese that would go out as GBK), or a text that
// would itself read as hex pairs.
std::optional<QString> CmdHexToText(const QString& hex);

} // namespace varnix
