// Cfg.ini: defaults, value encodings, the load steps, the save order and failures.
#include "app/login.h"
#include "app/settings.h"
#include "lang/lang_list.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "qt_print.h"

#include <sys/stat.h>

namespace varnix {
namespace {

QString U(const char* s) {
    return QString::fromUtf8(s);
}

class TFakeMain : public ISettingsTarget {
public:
    QStringList Calls;
    bool LanguageChinese = false, AboutVisible = false, HintChecked = false, UpdateVisible = true,
         HintsOn = false;
    int HintPause = 0, Model = 0;
    QString Com, CmdPath;

    void setLanguageChecked(bool chinese) override { LanguageChinese = chinese, Calls << U("language"); }
    void setAboutMenuVisible(bool v) override { AboutVisible = v, Calls << U("about"); }
    void setRealTimeHelpChecked(bool c) override { HintChecked = c, Calls << U("hintcheck"); }
    void setUpdateMenusVisible(bool v) override { UpdateVisible = v, Calls << U("updatemenus"); }
    void setHintHidePause(int ms) override { HintPause = ms, Calls << U("hintpause"); }
    void setHintsEnabled(bool e) override { HintsOn = e, Calls << U("hints"); }
    void setLocalCom(const QString& p) override { Com = p, Calls << U("com"); }
    void setModelChecked(int z) override { Model = z, Calls << U("model"); }
    QString cmdFilePath() const override { return CmdPath; }
    void setCmdFilePath(const QString& p) override { CmdPath = p, Calls << U("cmdpath"); }
    bool realTimeHelpChecked() const override { return HintChecked; }
    QString localCom() const override { return Com; }
    int checkedModel() const override { return Model; }
};

class TFakeUpgrade : public IUpgradeSettingsTarget {
public:
    QString Ip, Mac, File;
    void setUpgradeIP(const QString& t) override { Ip = t; }
    void setUpgradeMAC(const QString& t) override { Mac = t; }
    void setUpgradeFileName(const QString& t) override { File = t; }
    QString upgradeIP() const override { return Ip; }
    QString upgradeMAC() const override { return Mac; }
    QString upgradeFileName() const override { return File; }
};

class Settings : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        LoginUserName = LoginPassword = QStringLiteral("vesta");
    }
    void TearDown() override { FreeIni(); }
    QString IniPath() const { return dir.filePath(QStringLiteral("Cfg.ini")); }
    void WriteIni(const QByteArray& bytes) {
        QFile f(IniPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray IniBytes() const {
        QFile f(IniPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void Load(bool systemChinese = false) { LoadIni(dir.path(), lang, main, systemChinese); }

    QTemporaryDir dir;
    TLangList lang;
    TFakeMain main;
    TFakeUpgrade upgrade;
};

TEST_F(Settings, FirstStartWithoutFile) {
    for (bool systemChinese : {false, true}) {
        main = TFakeMain{};
        Load(systemChinese);
        EXPECT_EQ(main.Calls, (QStringList{U("language"), U("about"), U("hintcheck"), U("updatemenus"),
                                           U("hintpause"), U("hints"), U("com"), U("model"), U("cmdpath")}));
        EXPECT_EQ(lang.IsChinese, systemChinese);
        EXPECT_EQ(main.LanguageChinese, systemChinese);
        EXPECT_TRUE(main.AboutVisible);
        EXPECT_TRUE(main.HintChecked);
        EXPECT_FALSE(main.UpdateVisible);
        EXPECT_EQ(main.HintPause, 600000);
        EXPECT_TRUE(main.HintsOn);
        EXPECT_EQ(main.Com, QString()); // no port until the serial tab finds one
        EXPECT_EQ(main.Model, 1);
        EXPECT_EQ(main.CmdPath, QString());
        LoadIniUpgrade(upgrade);
        EXPECT_EQ(upgrade.Ip, QString());
        EXPECT_EQ(upgrade.Mac, QString());
        EXPECT_EQ(upgrade.File, QString());
        EXPECT_EQ(LoginUserName, u"vesta");
        EXPECT_FALSE(QFile::exists(IniPath())) << "loading must not create the file";
    }
}

TEST_F(Settings, IntegerAndBooleanEncodings) {
    struct Case {
        const char* value;
        std::optional<int> parsed;
    };
    const Case cases[] = {{"7", 7},
                          {"0x3", 3},
                          {"0X1f", 31},
                          {"-2", -2},
                          {" 12 ", 12},
                          {"abc", std::nullopt},
                          {"0x", std::nullopt},
                          {"0x-1", std::nullopt},
                          {"", std::nullopt},
                          {"1.5", std::nullopt},
                          {"99999999999", std::nullopt}};
    for (const Case& c : cases)
        EXPECT_EQ(ParseIniInteger(U(c.value)), c.parsed) << c.value;

    struct ZCase {
        const char* zNum;
        int model;
    };
    for (const ZCase c :
         {ZCase{"7", 1}, ZCase{"abc", 1}, ZCase{"0x3", 3}, ZCase{"2", 2}, ZCase{"0", 1}, ZCase{"-3", 1}}) {
        WriteIni(QByteArray("[System]\r\nZNum=") + c.zNum + "\r\n");
        Load();
        EXPECT_EQ(main.Model, c.model) << c.zNum;
    }
    struct BCase {
        const char* value;
        bool on;
    };
    for (const BCase c :
         {BCase{"2", true}, BCase{"0", false}, BCase{"0x0", false}, BCase{"x", true}, BCase{"", true}}) {
        WriteIni(QByteArray("[System]\r\nRealTimeHelp=") + c.value + "\r\nLanguage=" + c.value + "\r\n");
        Load(true);
        EXPECT_EQ(main.HintChecked, c.on) << c.value;
        EXPECT_EQ(main.HintsOn, c.on) << c.value;
        EXPECT_EQ(lang.IsChinese, c.on) << c.value; // unparsable: the system default (Chinese here)
    }
}

TEST_F(Settings, StringsAreTakenAsTheyAre) {
    WriteIni("[System]\r\nLocalCom=ttyUSB7\r\nFilePath=\r\nUpgradeIP=\r\n");
    main.CmdPath = QStringLiteral("/previous/DataSelf.txt");
    Load();
    EXPECT_EQ(main.Com, u"ttyUSB7");    // shown even though no such port exists
    EXPECT_EQ(main.CmdPath, QString()); // present but empty: empty, not the default

    WriteIni("[System]\r\nLocalCom=\r\n");
    main.CmdPath = QStringLiteral("/previous/DataSelf.txt");
    Load();
    EXPECT_EQ(main.Com, QString());
    EXPECT_EQ(main.CmdPath, u"/previous/DataSelf.txt"); // missing: the current value stays
}

TEST_F(Settings, FullSaveWritesEveryKeyInOrder) {
    Load();
    lang.IsChinese = true;
    main.HintChecked = true;
    main.Com = U("COM4");
    main.Model = 3;
    main.CmdPath = U("/home/u/命令.txt");
    upgrade.Ip = U("192.168.0.7");
    upgrade.Mac = U("00 1A 2B 3C 4D 5E");
    upgrade.File = U("/fw/z2.bin");
    LoginPassword = U("s3cr;t");
    ASSERT_TRUE(SaveIni(lang, main, &upgrade));
    FreeIni();
    EXPECT_EQ(IniBytes(), QByteArray("[System]\r\nLanguage=1\r\nRealTimeHelp=1\r\nLocalCom=COM4\r\nZNum=3\r\n"
                                     "UserName=vesta\r\nPassword=s3cr;t\r\nUpgradeIP=192.168.0.7\r\n"
                                     "UpgradeMAC=00 1A 2B 3C 4D 5E\r\nUpgradeFileName=/fw/z2.bin\r\n"
                                     "FilePath=/home/u/命令.txt\r\n"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(IniPath()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // The next start reads it all back, the log-in fields included.
    LoginUserName = LoginPassword = QStringLiteral("vesta");
    TFakeMain next;
    LoadIni(dir.path(), lang, next, false);
    LoadIniUpgrade(upgrade);
    EXPECT_TRUE(lang.IsChinese);
    EXPECT_EQ(next.Com, u"COM4");
    EXPECT_EQ(next.Model, 3);
    EXPECT_EQ(next.CmdPath, U("/home/u/命令.txt"));
    EXPECT_EQ(upgrade.Mac, u"00 1A 2B 3C 4D 5E");
    EXPECT_EQ(LoginPassword, u"s3cr;t");
}

TEST_F(Settings, SaveReplacesInPlaceAndKeepsForeignLines) {
    WriteIni("; my notes\r\n[System]\r\nZNum=2\r\nRealTimeHelp=2\r\nCustom=keep\r\n\r\n[Extra]\r\nA=1\r\n");
    Load();
    EXPECT_TRUE(main.HintChecked);
    ASSERT_TRUE(SaveIni(lang, main, &upgrade));
    EXPECT_EQ(IniBytes(), QByteArray("; my notes\r\n[System]\r\nZNum=2\r\nRealTimeHelp=1\r\nCustom=keep\r\n"
                                     "Language=0\r\nLocalCom=\r\nUserName=vesta\r\nPassword=vesta\r\n"
                                     "UpgradeIP=\r\nUpgradeMAC=\r\nUpgradeFileName=\r\nFilePath=\r\n\r\n"
                                     "[Extra]\r\nA=1\r\n"));
}

TEST_F(Settings, KilledRunThatOnlySwitchedLanguage) {
    Load(false);
    lang.IsChinese = true; // the language switch
    ASSERT_TRUE(SaveIniLanguage(lang));
    FreeIni(); // no SaveIni: the process ended otherwise
    EXPECT_EQ(IniBytes(), QByteArray("[System]\r\nLanguage=1\r\n"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(IniPath()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(Settings, UnwritableFileReportsItsPath) {
    // A program directory below a plain file: no one, not even root, can create Cfg.ini there.
    const QString blocker = dir.filePath(QStringLiteral("file"));
    {
        QFile f(blocker);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const QString programDir = blocker + QStringLiteral("/home");
    LoadIni(programDir, lang, main, false);
    EXPECT_EQ(main.Com, QString());
    const QString expected = QStringLiteral("Unable to write to ") + programDir + QStringLiteral("/Cfg.ini");
    const TIniResult lang1 = SaveIniLanguage(lang);
    EXPECT_FALSE(lang1.Ok);
    EXPECT_EQ(lang1.Error, expected);
    const TIniResult all = SaveIni(lang, main, &upgrade);
    EXPECT_FALSE(all.Ok);
    EXPECT_EQ(all.Error, expected);
}

TEST_F(Settings, ReadOnlyFileIsReportedAndLeftByteIdentical) {
    // Leftovers of a copy killed between writing a temporary file and renaming it.
    WriteIni("[System]\r\nZNum=3\r\n; the user's own note\r\nLocalCom=/dev/ttyUSB1\r\n");
    for (const char* stale : {".Cfg.ini.a1B2c3", ".Cfg.ini.XXXXXX"}) {
        QFile f(dir.filePath(QString::fromLatin1(stale)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const QByteArray before = IniBytes();
    ASSERT_EQ(::chmod(QFile::encodeName(IniPath()).constData(), 0400), 0);
    Load(false);
    // Started: the file is read as usual and the stale temporary files are gone.
    EXPECT_EQ(main.Model, 3);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Cfg.ini")});
    // Closed: the save says where it could not write, and the file is as it was, mode included
    // (the directory is writable, so a rename would have replaced it; root may write it too).
    main.Com = QStringLiteral("/dev/ttyS0");
    const TIniResult r = SaveIni(lang, main, &upgrade);
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(r.Error, QStringLiteral("Unable to write to ") + IniPath());
    EXPECT_EQ(IniBytes(), before);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(IniPath()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0400u);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Cfg.ini")});
}

TEST_F(Settings, DeviceInPlaceOfTheFileGivesDefaultsAndIsNotWritten) {
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), IniPath()));
    Load(false); // returns: /dev/zero is not read until memory runs out
    EXPECT_EQ(main.Com, QString());
    EXPECT_FALSE(SaveIni(lang, main, &upgrade).Ok);
    EXPECT_TRUE(QFileInfo(IniPath()).isSymLink());
}

TEST_F(Settings, OldGbkFileOfTheWindowsTool) {
    QFile src(QDir(QStringLiteral(VARNIX_DATA_DIR)).filePath(QStringLiteral("app/Cfg_old_gbk.ini")));
    ASSERT_TRUE(src.open(QIODevice::ReadOnly));
    WriteIni(src.readAll());
    Load(false);
    LoadIniUpgrade(upgrade);
    EXPECT_TRUE(lang.IsChinese);
    EXPECT_FALSE(main.HintChecked);
    EXPECT_EQ(main.Com, U("串口3"));
    EXPECT_EQ(main.Model, 3);
    EXPECT_EQ(main.CmdPath, U("D:\\工具\\DataSelf.txt"));
    EXPECT_EQ(upgrade.File, U("D:\\固件\\z2.bin"));
    EXPECT_EQ(LoginUserName, u"admin");
    EXPECT_EQ(LoginPassword, U("密码"));
    // Saving turns the whole file into UTF-8 with the same values.
    ASSERT_TRUE(SaveIni(lang, main, &upgrade));
    const QByteArray bytes = IniBytes();
    EXPECT_TRUE(bytes.contains(U("LocalCom=串口3\r\n").toUtf8()));
    EXPECT_TRUE(bytes.contains(U("FilePath=D:\\工具\\DataSelf.txt\r\n").toUtf8()));
}

TEST_F(Settings, PythonConfigParserReadsTheFile) {
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        GTEST_SKIP() << "python3 not installed";
    Load();
    main.Com = U("ttyUSB0");
    main.CmdPath = U("/data/命令 列表.txt");
    upgrade.Mac = U("00 1A 2B 3C 4D 5E");
    LoginPassword = U("p%w=;");
    ASSERT_TRUE(SaveIni(lang, main, &upgrade));

    QProcess p;
    p.start(python, {QStringLiteral("-c"),
                     QStringLiteral(
                         "import configparser, sys\n"
                         "c = configparser.ConfigParser(interpolation=None)\n"
                         "c.optionxform = str\n"
                         "c.read(sys.argv[1], encoding='utf-8')\n"
                         "s = c['System']\n"
                         "sys.stdout.buffer.write('\\n'.join(k + '=' + s[k] for k in s).encode('utf-8'))\n"),
                     IniPath()});
    ASSERT_TRUE(p.waitForFinished(30000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_EQ(QString::fromUtf8(p.readAllStandardOutput()),
              U("Language=0\nRealTimeHelp=1\nLocalCom=ttyUSB0\nZNum=1\nUserName=vesta\nPassword=p%w=;\n"
                "UpgradeIP=\nUpgradeMAC=00 1A 2B 3C 4D 5E\nUpgradeFileName=\nFilePath=/data/命令 列表.txt"));
}

TEST(SettingsTable, KeysTypesDefaults) {
    const auto t = SettingsTable();
    ASSERT_EQ(t.size(), 10u);
    const QStringList keys{U("Language"),        U("RealTimeHelp"), U("LocalCom"),  U("ZNum"),
                           U("UserName"),        U("Password"),     U("UpgradeIP"), U("UpgradeMAC"),
                           U("UpgradeFileName"), U("FilePath")};
    for (std::size_t i = 0; i < t.size(); ++i)
        EXPECT_EQ(t[i].Key, keys[qsizetype(i)]);
    EXPECT_EQ(FindSetting(u"zNUM")->Type, TSettingType::Integer);
    EXPECT_EQ(FindSetting(u"RealTimeHelp")->Default, u"1");
    EXPECT_EQ(FindSetting(u"LocalCom")->Default, QString()); // no port is assumed
    EXPECT_EQ(FindSetting(u"Password")->Default, u"vesta");
    EXPECT_EQ(FindSetting(u"Nope"), nullptr);
}

} // namespace
} // namespace varnix
