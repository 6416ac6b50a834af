#pragma once
// Texts the keyboard needs: mnemonics of menu captions, and the question asked before a command
// that changes modules. No widgets: both are plain text work, tested on their own.

#include <QChar>
#include <QString>
#include <vector>

namespace varnix {

// The caption with an '&' before the first occurrence of `letter` (either case), so Alt+letter
// opens the menu or item. A caption without that letter (a Chinese caption) gets " (&L)"
// appended, as Chinese desktops write it. An '&' already in the caption is doubled first, so it
// stays a plain character.
QString WithMnemonic(const QString& caption, QChar letter);
// What WithMnemonic made, back to the caption it started from.
QString WithoutMnemonic(const QString& caption);

// One module as the question names it.
struct TModuleLine {
    QString IP, Name, Mac;
};

// `question` with its "%1" replaced by one line per module ("IP  Name  MAC"). At most MaxListed
// modules are named; `more` (with "%1" = how many are left out) closes a longer list.
inline constexpr int MaxListed = 20;
QString ConfirmText(const QString& question, const QString& more, const std::vector<TModuleLine>& modules);

} // namespace varnix
