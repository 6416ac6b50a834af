#include "lang/app_lang.h"

#include "lang/lang_table.h"

#include <QDir>

#include <cstdio>

namespace varnix {

TLangList* LangList = nullptr;

void RegisterBuiltinTexts(TLangList& list) {
    for (const TLangRow& row : BuiltinLangTable())
        list.AddText(QString::fromUtf8(row.Name), QString::fromUtf8(row.Cn), QString::fromUtf8(row.En));
}

void InitLang(const QString& programDir) {
    FreeLang();
    LangList = new TLangList;
    RegisterBuiltinTexts(*LangList);
    LangList->LoadLangFile(QDir(programDir).filePath(LangFileName.toString()));
    // The built-in texts answer in its place; the reason goes to the terminal and the window's log.
    if (!LangList->FileError.isEmpty())
        std::fprintf(stderr, "varnix: %s\n", qPrintable(LangList->FileError));
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

void FreeLang() {
    delete LangList;
    LangList = nullptr;
}

} // namespace varnix
