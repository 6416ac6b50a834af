#include "lang/app_lang.h"

#include "lang/lang_table.h"

namespace varnix {

void RegisterBuiltinTexts(TLangList& list) {
    for (const TLangRow& row : BuiltinLangTable())
        list.AddText(QString::fromUtf8(row.Name), QString::fromUtf8(row.Cn), QString::fromUtf8(row.En));
}

QString LookUpText(const TLangList& list, const QString& key) {
    try {
        return list.GetText(key);
    } catch (...) {
        return key;
    }
}

} // namespace varnix
