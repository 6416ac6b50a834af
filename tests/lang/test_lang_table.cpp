// The built-in table against the texts that windows and messages show or compare.
#include "expected_texts.h"
#include "lang/app_lang.h"
#include "lang/lang_table.h"

#include <gtest/gtest.h>

#include "qt_print.h"

#include <set>

namespace varnix {
namespace {

TEST(LangTable, KeysInRegistrationOrder) {
    const auto table = BuiltinLangTable();
    ASSERT_EQ(table.size(), std::size(expected::Keys));
    std::set<std::string> seen;
    for (std::size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(QString::fromUtf8(table[i].Name), expected::Keys[i]) << "row " << i;
        EXPECT_TRUE(seen.insert(table[i].Name).second) << "duplicate " << table[i].Name;
    }
}

struct TRow {
    QString Cn, En;
};

TRow Lookup(QStringView key) {
    for (const TLangRow& r : BuiltinLangTable())
        if (QString::fromUtf8(r.Name) == key)
            return {QString::fromUtf8(r.Cn), QString::fromUtf8(r.En)};
    ADD_FAILURE() << "no row " << key.toString().toStdString();
    return {};
}

TEST(LangTable, QuotedTexts) {
    for (const auto& q : expected::QuotedRows) {
        const TRow row = Lookup(q.Key);
        EXPECT_EQ(row.Cn, q.Cn) << q.Key.toString().toStdString();
        EXPECT_EQ(row.En, q.En) << q.Key.toString().toStdString();
    }
    EXPECT_GE(std::size(expected::QuotedRows), 240u);
}

TEST(LangTable, NamesSpacesAndAddresses) {
    struct Case {
        const char16_t* key;
        const char16_t* cn;
        const char16_t* en;
    };
    const Case cases[] = {
        {u"lang_Main_Title", u"Varnix", u"Varnix"}, {u"lang_Main_AppTitle", u"Varnix", u"Varnix"},
        {u"lang_Menu_Diy", u"DiyLang", u"DiyLang"}, {u"lang_About_Tel", u" ", u" "},
        {u"lang_About_Email", u" ", u" "},          {u"lang_About_Contact", u"联系我们", u" "},
        {u"lang_Menu_DownUrl", u"", u""}, // no vendor addresses
        {u"lang_About_Website", u"", u""},
    };
    for (const Case& c : cases) {
        const TRow row = Lookup(c.key);
        EXPECT_EQ(row.Cn, QStringView(c.cn)) << QStringView(c.key).toString().toStdString();
        EXPECT_EQ(row.En, QStringView(c.en)) << QStringView(c.key).toString().toStdString();
    }
}

TEST(LangTable, EveryOtherRowHasTextsInBothLanguages) {
    for (const TLangRow& r : BuiltinLangTable()) {
        const QString name = QString::fromUtf8(r.Name);
        if (name == u"lang_Menu_DownUrl" || name == u"lang_About_Website")
            continue;
        EXPECT_FALSE(QString::fromUtf8(r.Cn).isEmpty()) << r.Name;
        EXPECT_FALSE(QString::fromUtf8(r.En).isEmpty()) << r.Name;
        EXPECT_TRUE(name.startsWith(u"lang_")) << r.Name;
        // A "|" would split the row when the table is written to Lang.txt.
        EXPECT_FALSE(QString::fromUtf8(r.Cn).contains(u'|') || QString::fromUtf8(r.En).contains(u'|'))
            << r.Name;
    }
    // The packing hints speak of time and length, and point to no web page.
    for (const char16_t* key : {u"lang_lbl_H_UARTTime", u"lang_lbl_H_UARTLength"}) {
        const TRow row = Lookup(key);
        EXPECT_FALSE(row.En.contains(u"http") || row.Cn.contains(u"http"));
        EXPECT_FALSE(row.En.contains(u"www") || row.Cn.contains(u"www"));
    }
    EXPECT_TRUE(Lookup(u"lang_lbl_H_UARTTime").En.contains(u"time", Qt::CaseInsensitive));
    EXPECT_TRUE(Lookup(u"lang_lbl_H_UARTLength").En.contains(u"length", Qt::CaseInsensitive));
}

TEST(LangTable, RegisteredIntoTheBuiltInLists) {
    TLangList l;
    RegisterBuiltinTexts(l);
    ASSERT_EQ(l.BaseNames.size(), qsizetype(BuiltinLangRowCount));
    EXPECT_EQ(l.BaseCn.size(), l.BaseNames.size());
    EXPECT_EQ(l.BaseEn.size(), l.BaseNames.size());
    // A key in another letter case finds its row, as the main window's "lang_lbl_BaudRate" does.
    EXPECT_EQ(l.GetText(QStringLiteral("lang_lbl_BaudRate")), u"Baudrate");
    EXPECT_EQ(l.GetText(QStringLiteral("lang_About_Description")), u"lang_About_Description");
    EXPECT_EQ(l.GetText(QString::fromUtf8(" 升级超时！")), u" Upgrade time out!");
}

} // namespace
} // namespace varnix
