#pragma once
// The built-in texts and the one lookup every window and message uses, on a language list the
// caller holds (the application context's).

#include "lang/lang_list.h"

#include <QString>

namespace varnix {

// The text of `key` (or of a text already shown) in the current language of `list`; a key found
// nowhere, or any failure inside the lookup, gives the key itself.
QString LookUpText(const TLangList& list, const QString& key);

// Registers the built-in table into `list`, in its order (before Lang.txt is read).
void RegisterBuiltinTexts(TLangList& list);

} // namespace varnix
