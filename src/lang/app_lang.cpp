#include "lang/app_lang.h"

#include "lang/lang_table.h"

namespace varnix {

TLangList* LangList = nullptr;

void RegisterBuiltinTexts(TLangList& list) {
    for (const TLangRow& row : BuiltinLangTable())
        list.AddText(QString::fromUtf8(row.Name), QString::fromUtf8(row.Cn), QString::fromUtf8(row.En));
}

QString GetLangText(const QString& Key) {
    if (!LangList)
        return Key;
    try {
        return LangList->GetText(Key);
    } catch (...) {
        return Key;
    }
}

} // namespace varnix
