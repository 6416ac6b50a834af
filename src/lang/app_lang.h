#pragma once
// The program-wide language list and the one lookup every window and message uses.

#include "lang/lang_list.h"

#include <QString>

namespace varnix {

// The language list of the newest application context; null while there is none.
extern TLangList* LangList;

// The text of `Key` (or of a text already shown) in the current language; a key found
// nowhere, or any failure inside the lookup, gives the key itself.
QString GetLangText(const QString& Key);

// Registers the built-in table into `list`, in its order (before Lang.txt is read).
void RegisterBuiltinTexts(TLangList& list);

} // namespace varnix
