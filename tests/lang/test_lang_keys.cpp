// Every "lang_..." key written anywhere in the program's sources resolves in the built-in table,
// case-insensitively as the lookup does. The sources are scanned when the test runs, so a key
// added to the code without its row fails here.

#include "lang/app_lang.h"
#include "lang/lang_list.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

using namespace varnix;

namespace {

// The about box's description label shows its key on purpose: the key has no row.
const QStringList LeftOut{QStringLiteral("lang_About_Description")};

QStringList KeysInSources() {
    const QRegularExpression key(QStringLiteral("\"(lang_[A-Za-z0-9_]+)\""));
    QStringList keys;
    for (const char* folder : {"src", "tools"}) {
        QDirIterator it(QStringLiteral(VARNIX_SOURCE_DIR "/") + QLatin1String(folder),
                        {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (path.endsWith(u"/lang_table.cpp"))
                continue; // the rows themselves
            QFile f(path);
            if (!f.open(QIODevice::ReadOnly))
                continue;
            const QString text = QString::fromUtf8(f.readAll());
            for (auto m = key.globalMatch(text); m.hasNext();)
                keys << m.next().captured(1);
        }
    }
    keys.removeDuplicates();
    return keys;
}

} // namespace

TEST(LangKeys, EveryKeyInTheCodeHasARow) {
    TLangList list;
    RegisterBuiltinTexts(list);
    const QStringList keys = KeysInSources();
    // The scan found the code (a wrong source path would pass vacuously).
    ASSERT_GT(keys.size(), 150);
    QStringList missing;
    for (const QString& key : keys)
        if (!LeftOut.contains(key) && list.GetText(key) == key)
            missing << key;
    EXPECT_TRUE(missing.isEmpty()) << "keys without a row: " << missing.join(u' ').toStdString();
    // The one left out is really absent, and the lookup gives the key itself.
    EXPECT_EQ(list.GetText(LeftOut.front()), LeftOut.front());
    // The lookup ignores letter case: lbl1's key differs from its row only in case.
    EXPECT_NE(list.GetText(QStringLiteral("lang_lbl_BaudRate")), QStringLiteral("lang_lbl_BaudRate"));
}
