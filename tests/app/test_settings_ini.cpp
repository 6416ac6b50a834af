// The INI document: lookups, in-place replacement, appending, atomic writes.
#include "app/settings_ini.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "qt_print.h"

#include <sys/stat.h>

namespace varnix {
namespace {

QString U(const char* s) {
    return QString::fromUtf8(s);
}

TEST(IniDocument, Lookups) {
    const auto doc = TIniDocument::FromBytes(
        QByteArray("; comment=1\r\n[Other]\r\nZNum=9\r\n[ system ]\r\n  ZNum = 0x3  \r\nzNum=2\r\nEmpty=\r\n"
                   "NoEquals\r\nLocalCom=COM=3\r\n[System]\r\nLate=yes\n"));
    struct Case {
        const char* section;
        const char* key;
        std::optional<const char*> value;
    };
    const Case cases[] = {
        {"System", "ZNum", "0x3"}, // trimmed; section and key names ignore case
        {"SYSTEM", "znum", "0x3"}, // the first of two counts
        {"Other", "ZNum", "9"},
        {"System", "Empty", ""},         // present but empty
        {"System", "LocalCom", "COM=3"}, // split at the first "="
        {"System", "NoEquals", std::nullopt},
        {"System", "Missing", std::nullopt},
        {"System", "; comment", std::nullopt},
        {"System", "Late", "yes"}, // a second section of the same name is read too
        {"Nowhere", "ZNum", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto v = doc.Value(U(c.section), U(c.key));
        if (c.value) {
            ASSERT_TRUE(v.has_value()) << c.section << "/" << c.key;
            EXPECT_EQ(*v, U(*c.value)) << c.section << "/" << c.key;
        } else {
            EXPECT_FALSE(v.has_value()) << c.section << "/" << c.key;
        }
    }
}

TEST(IniDocument, ReplaceInPlaceAppendToSectionCreateSection) {
    auto doc = TIniDocument::FromBytes(
        QByteArray(";settings\r\n[System]\r\nZNum=1\r\n; keep me\r\nLanguage=0\r\n\r\n[Other]\r\nX=1\r\n"));
    doc.SetValue(U("System"), U("Language"), U("1"));
    doc.SetValue(U("System"), U("LocalCom"), U("COM3"));
    doc.SetValue(U("Other"), U("Y"), U("2"));
    doc.SetValue(U("New"), U("Z"), U("3"));
    EXPECT_EQ(doc.ToBytes(), QByteArray(";settings\r\n[System]\r\nZNum=1\r\n; keep me\r\nLanguage=1\r\n"
                                        "LocalCom=COM3\r\n\r\n[Other]\r\nX=1\r\nY=2\r\n[New]\r\nZ=3\r\n"));
}

TEST(IniDocument, LineBreakInValueCannotPlantKeys) {
    TIniDocument doc;
    doc.SetValue(U("System"), U("FilePath"), U("a\r\n[System]\nLanguage=1"));
    const auto again = TIniDocument::FromBytes(doc.ToBytes());
    EXPECT_EQ(again.Lines().size(), 2);
    EXPECT_FALSE(again.Value(U("System"), U("Language")).has_value());
}

TEST(IniFile, AtomicWriteKeepsModeAndLeavesNoTemporaryFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Cfg.ini"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[System]\r\nA=1\r\n");
    }
    ::chmod(QFile::encodeName(path).constData(), 0644);
    struct stat before {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &before), 0);

    TIniFile ini(path);
    ASSERT_TRUE(ini.Write(U("System"), U("B"), U("2")));
    struct stat after {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &after), 0);
    EXPECT_EQ(after.st_mode & 0777, 0600u);
    EXPECT_NE(after.st_ino, before.st_ino); // replaced by rename, not rewritten in place
    EXPECT_EQ(ini.Read(U("System"), U("A")), U("1"));
    EXPECT_EQ(ini.Read(U("System"), U("B")), U("2"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Cfg.ini")});
}

TEST(IniFile, UnreadableFileIsNotOverwritten) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Cfg.ini"));
    // A directory where the file should be: it exists but cannot be read as a file.
    ASSERT_TRUE(QDir().mkpath(path));
    TIniFile ini(path);
    EXPECT_FALSE(ini.Write(U("System"), U("A"), U("1")));
    EXPECT_TRUE(QFileInfo(path).isDir());
}

} // namespace
} // namespace varnix
