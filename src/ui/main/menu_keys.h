#pragma once
// Mnemonics of menu captions, so every menu and item is reached by Alt+letter. No widgets: plain
// text work, tested on its own.

#include <QChar>
#include <QString>

namespace varnix {

// The caption with an '&' before the first occurrence of `letter` (either case), so Alt+letter
// opens the menu or item. A caption without that letter (a Chinese caption) gets " (&L)"
// appended, as Chinese desktops write it. An '&' already in the caption is doubled first, so it
// stays a plain character.
QString WithMnemonic(const QString& caption, QChar letter);
// What WithMnemonic made, back to the caption it started from.
QString WithoutMnemonic(const QString& caption);

} // namespace varnix
