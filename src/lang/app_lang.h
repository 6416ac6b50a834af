#pragma once
// The program-wide language list and the one lookup every window and message uses.

#include "lang/lang_list.h"

#include <QString>

namespace varnix {

// The one language list of the run; null before InitLang and after FreeLang.
extern TLangList* LangList;

// Creates LangList, registers the built-in table in its order, then loads (and, when absent,
// writes) Lang.txt in `programDir`. Runs before the settings are loaded.
void InitLang(const QString& programDir);

// The text of `Key` (or of a text already shown) in the current language; a key found
// nowhere, or any failure inside the lookup, gives the key itself.
QString GetLangText(const QString& Key);

// Registers the built-in table into `list` (what InitLang does before reading the file).
void RegisterBuiltinTexts(TLangList& list);

// Releases LangList.
void FreeLang();

} // namespace varnix
