#pragma once
// Showing text that came from the network or from a file without letting it act on the screen.
//
// A module's name is whatever bytes it sends: an ESC starts a terminal control sequence (clear
// the screen, set the title), a CR or LF forges a new line in a log or a table, and U+2028,
// U+2029 and the bidirectional overrides reorder or break what follows in a text widget. Both
// functions below replace exactly those characters and leave every other one as it is, so a
// name in Chinese or with a '%' reads unchanged.

#include <QString>
#include <QStringView>

namespace varnix {

// True for the characters both functions replace: C0 controls (U+0000-U+001F), DEL, C1
// controls (U+0080-U+009F), the line and paragraph separators U+2028/U+2029, and the
// bidirectional embeddings, overrides and isolates (U+202A-U+202E, U+2066-U+2069).
bool IsUnsafeForDisplay(char16_t c);

// For a terminal: each such character as "\xNN" (or "\uNNNN" above U+00FF). With
// `escapeBackslash`, a backslash becomes "\\" so that an escape in the output always means a
// replaced character (used for texts from a module; whole output lines keep their backslashes).
QString EscapeForTerminal(QStringView text, bool escapeBackslash = true);

// For a window: the same escapes, backslashes left as they are (a window shows no control
// sequences, it only must not break or reorder lines).
QString ShowControls(QStringView text);

} // namespace varnix
