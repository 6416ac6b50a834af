// The language list: Lang.txt rows, the lookup order, reading and writing the file.
#include "app/app_context.h"
#include "lang/app_lang.h"
#include "lang/lang_list.h"
#include "lang/lang_table.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "qt_print.h"

namespace varnix {
namespace {

QString U(const char* s) {
    return QString::fromUtf8(s);
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return f.readAll();
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QString DataFile(const char* name) {
    return QDir(QStringLiteral(VARNIX_DATA_DIR)).filePath(QString::fromUtf8(name));
}

TEST(LangLine, FieldExtraction) {
    struct Case {
        const char* line;
        const char* name;
        const char* cn;
        const char* en;
    };
    const Case cases[] = {
        {"lang_A|中|En", "lang_A", "中", "En"},
        {"lang_A|En only", "lang_A", "", "En only"},        // one "|": no Chinese text
        {"lang_A|one|two|three", "lang_A", "one", "three"}, // first, second and last field
        {"no separator", "", "", ""},
        {"|", "", "", ""},
        {"lang_A||", "lang_A", "", ""},
        {"lang_A|a///b|c///d///", "lang_A", "a\nb", "c\nd\n"}, // "///" becomes one line feed
        {"lang_///|x|y", "lang_///", "x", "y"},                // the name is not changed
        {"lang_A|a////b|", "lang_A", "a\n/b", ""},
        {" lang_A | cn | en ", " lang_A ", " cn ", " en "}, // spaces belong to the fields
    };
    for (const Case& c : cases) {
        const TLangFields f = ParseLangLine(U(c.line));
        EXPECT_EQ(f, (TLangFields{U(c.name), U(c.cn), U(c.en)})) << c.line;
    }
}

TEST(LangRead, SkipsEmptyAndCommentLinesOnly) {
    TLangList l;
    l.ReadLangData(
        QByteArray(";comment|a|b\r\n\r\n ;not a comment|x|y\r\nlang_K|k|K\nlang_L|l|L\rlang_M|m|M"));
    ASSERT_EQ(l.FileNames, (QStringList{U(" ;not a comment"), U("lang_K"), U("lang_L"), U("lang_M")}));
    EXPECT_EQ(l.FileCn, (QStringList{U("x"), U("k"), U("l"), U("m")}));
    EXPECT_EQ(l.FileEn, (QStringList{U("y"), U("K"), U("L"), U("M")}));
}

TEST(LangRead, MissingFileOrEmptyPathAddsNothing) {
    TLangList l;
    EXPECT_FALSE(l.ReadLangFile(QString()));
    EXPECT_FALSE(l.ReadLangFile(QStringLiteral("/nonexistent/dir/Lang.txt")));
    EXPECT_TRUE(l.FileNames.isEmpty());
}

TEST(LangRead, DeviceOrHugeFileIsRefusedWithTheReason) {
    // A Lang.txt linked to /dev/zero used to be read until memory ran out.
    QTemporaryDir dir;
    const QString link = dir.filePath(U("Lang.txt"));
    ASSERT_TRUE(QFile::link(U("/dev/zero"), link));
    TLangList l;
    l.LoadLangFile(link);
    EXPECT_TRUE(l.FileNames.isEmpty());
    EXPECT_EQ(l.FileError, link + U(": not a regular file"));
    // A file above the limit: refused without being read.
    const QString big = dir.filePath(U("big.txt"));
    {
        QFile f(big);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(qint64(MaxLangFileBytes) + 1));
    }
    EXPECT_FALSE(l.ReadLangFile(big));
    EXPECT_EQ(l.FileError, big + U(": larger than 4 MiB"));
    ASSERT_TRUE(l.ReadLangFile(DataFile("lang/Lang_gbk.txt")));
    EXPECT_TRUE(l.FileError.isEmpty());
}

TEST(LangRead, GbkFileOfTheOldTool) {
    TLangList l;
    ASSERT_TRUE(l.ReadLangFile(DataFile("lang/Lang_gbk.txt")));
    EXPECT_EQ(l.FileNames, (QStringList{U("lang_Menu_File"), U("lang_btn_Search"), U("lang_Own_Row")}));
    EXPECT_EQ(l.FileCn, (QStringList{U("文件（旧）"), U("搜索\n设备"), U("自定义")}));
    EXPECT_EQ(l.FileEn, (QStringList{U("File (old)"), U("Search\nDevice"), U("Own row")}));
    l.IsChinese = true;
    EXPECT_EQ(l.GetText(U("lang_menu_file")), U("文件（旧）"));
}

class LangLookup : public testing::Test {
protected:
    void SetUp() override {
        l.AddText(U("lang_Menu_File"), U("文件"), U("File"));
        l.AddText(U("lang_Lbl_Baudrate"), U("串口波特率"), U("Baudrate"));
        l.AddText(U("lang_Hint_UpTimeOut"), U(" 升级超时！"), U(" Upgrade time out!"));
        l.AddText(U("lang_RzComboBox1_0"), U("心跳包关闭"), U("None"));
        l.AddText(U("lang_RzComboBox2_0"), U("注册包关闭"), U("None"));
    }
    TLangList l;
};

TEST_F(LangLookup, BuiltInTable) {
    struct Case {
        const char* key;
        bool chinese;
        const char* text;
    };
    const Case cases[] = {
        {"lang_Menu_File", true, "文件"},
        {"lang_Menu_File", false, "File"},
        {"lang_lbl_BaudRate", false, "Baudrate"}, // letter case is ignored
        {"LANG_MENU_FILE", true, "文件"},
        {"lang_About_Description", false, "lang_About_Description"}, // found nowhere: itself
        {" 升级超时！", false, " Upgrade time out!"},                // a shown text in the other language
        {" upgrade TIME out!", true, " 升级超时！"},
        {" 升级超时！3", false, " 升级超时！3"}, // with something appended: unchanged
        {"None", true, "心跳包关闭"},            // first matching row wins
        {"", false, ""},
    };
    for (const Case& c : cases) {
        l.IsChinese = c.chinese;
        EXPECT_EQ(l.GetText(U(c.key)), U(c.text)) << c.key << " chinese=" << c.chinese;
    }
}

TEST_F(LangLookup, FileRowsComeFirst) {
    l.ReadLangData(QByteArray("lang_Menu_File|我的文件|My File\r\n"
                              "lang_Menu_File|文件|File\r\n"
                              "lang_Hint_UpTimeOut|超时|Late\r\n"
                              "lang_Only_File|仅文件|File only\r\n"
                              "lang_Empty|\r\n"));
    l.IsChinese = false;
    EXPECT_EQ(l.GetText(U("lang_Menu_File")), U("My File"));     // the row above wins
    EXPECT_EQ(l.GetText(U("lang_Lbl_Baudrate")), U("Baudrate")); // not in the file: built-in
    EXPECT_EQ(l.GetText(U("lang_Only_File")), U("File only"));
    EXPECT_EQ(l.GetText(U("lang_Empty")), QString()); // an empty text stays empty
    // Texts are searched in the file's columns before the built-in names and texts.
    EXPECT_EQ(l.GetText(U("超时")), U("Late"));
    EXPECT_EQ(l.GetText(U(" 升级超时！")), U(" Upgrade time out!"));
    l.IsChinese = true;
    EXPECT_EQ(l.GetText(U("my file")), U("我的文件"));
}

TEST_F(LangLookup, RowBelowTheGeneratedOneHasNoEffect) {
    l.ReadLangData(QByteArray("lang_Menu_File|文件|File\r\nlang_Menu_File|我的文件|My File\r\n"));
    EXPECT_EQ(l.GetText(U("lang_Menu_File")), U("File"));
}

TEST(LangFile, GeneratedFileFormat) {
    TLangList l;
    l.AddText(U("lang_A"), U("第一行\r\n第二行"), U("line 1\r\nline 2"));
    l.AddText(U("lang_B"), U("已有///标记"), U("lone\rCR"));
    const QByteArray expected = QByteArray(
        ";语言文件格式为: 名称|中文|英文，竖线分割，逗号与分号为注释，///为换行，空行自动忽略\r\n"
        ";Language file format: Name|Chinese|English，vertical is delimiter， comma or semicolon is "
        "Comments，///is newline，Empty lines automatically ignored\r\n"
        " \r\n"
        "lang_A|第一行///第二行|line 1///line 2\r\n"
        "lang_B|已有///标记|lone\rCR\r\n");
    EXPECT_EQ(l.LangFileContent(), expected);
}

TEST(LangFile, GeneratedFileAnswersEveryKeyAsTheTable) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TAppContext context(dir.path());
    TLangList& lang = context.Lang();
    const QString path = dir.filePath(QStringLiteral("Lang.txt"));
    ASSERT_TRUE(QFile::exists(path));
    const QByteArray bytes = ReadAll(path);
    EXPECT_FALSE(bytes.startsWith("\xEF\xBB\xBF"));
    EXPECT_TRUE(bytes.endsWith("\r\n"));

    // The blank third line is a row of three empty fields, then the table in its order.
    ASSERT_EQ(lang.FileNames.size(), qsizetype(BuiltinLangRowCount) + 1);
    EXPECT_EQ(lang.FileNames[0], QString());
    const auto table = BuiltinLangTable();
    for (std::size_t i = 0; i < table.size(); ++i) {
        const QString name = U(table[i].Name);
        auto asRead = [](const char* s) {
            QString t = QString::fromUtf8(s);
            t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
            t.replace(QStringLiteral("///"), QStringLiteral("\n"));
            return t;
        };
        EXPECT_EQ(lang.FileNames[qsizetype(i) + 1], name);
        lang.IsChinese = true;
        EXPECT_EQ(context.Text(name), asRead(table[i].Cn)) << table[i].Name;
        lang.IsChinese = false;
        EXPECT_EQ(context.Text(name), asRead(table[i].En)) << table[i].Name;
    }
    EXPECT_EQ(context.Text(QStringLiteral("lang_No_Such_Key")), u"lang_No_Such_Key");
}

TEST(LangFile, ExistingFileIsNotRewritten) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Lang.txt"));
    WriteBytes(path, QByteArray("lang_Menu_File|用户的|User's\r\n"));
    TAppContext context(dir.path());
    TLangList& lang = context.Lang();
    EXPECT_EQ(ReadAll(path), QByteArray("lang_Menu_File|用户的|User's\r\n"));
    lang.IsChinese = false;
    EXPECT_EQ(context.Text(QStringLiteral("lang_Menu_File")), u"User's");
    EXPECT_EQ(context.Text(QStringLiteral("lang_Menu_Quit")), u"Quit"); // only built-in
}

TEST(LangFile, UncreatableFileLeavesTheBuiltInTable) {
    QTemporaryDir dir;
    // A directory below a plain file cannot exist, whoever runs the test.
    const QString blocker = dir.filePath(QStringLiteral("file"));
    WriteBytes(blocker, "x");
    const QString programDir = blocker + QStringLiteral("/sub");
    TAppContext context(programDir);
    TLangList& lang = context.Lang();
    EXPECT_TRUE(lang.FileNames.isEmpty());
    lang.IsChinese = true;
    EXPECT_EQ(context.Text(QStringLiteral("lang_btn_Search")), U("搜索设备"));
    EXPECT_FALSE(lang.WriteLangFile(programDir + QStringLiteral("/Lang.txt")));
}

} // namespace
} // namespace varnix
