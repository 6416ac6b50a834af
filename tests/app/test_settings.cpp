// Cfg.ini: defaults, value encodings, each window's load and save, the order of a full save and
// failures.
#include "app/app_context.h"
#include "app/settings.h"
#include "lang/error_text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <memory>

#include <gtest/gtest.h>

#include "qt_print.h"

#include <sys/stat.h>

namespace varnix {
namespace {

QString U(const char* s) {
    return QString::fromUtf8(s);
}

// What the windows hold between loading and saving, read and written through each window's own
// functions, as each window does it.
class Settings : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
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
    // Every window's load, as the program makes them.
    void Load(bool systemChinese = false) { LoadFrom(IniPath(), systemChinese); }
    void LoadFrom(const QString& path, bool systemChinese) {
        ini = std::make_unique<TSettings>(path);
        main = LoadMainSettings(*ini, systemChinese);
        login = LoadLoginSettings(*ini, login);
        upgrade = LoadUpgradeSettings(*ini);
        cmdPath = LoadCmdFilePath(*ini, cmdPath);
    }
    // Every window's save at the end of a run: the main window as it closes, then the password
    // dialog, the upgrade and the debugging window.
    TStatus SaveAll() {
        for (const TStatus& r : {SaveMainSettings(*ini, main), SaveLoginSettings(*ini, login),
                                 SaveUpgradeSettings(*ini, upgrade), SaveCmdFilePath(*ini, cmdPath)})
            if (!r)
                return r;
        return {};
    }

    QTemporaryDir dir;
    std::unique_ptr<TSettings> ini;
    TMainSettings main;
    TLoginText login;
    TUpgradeSettings upgrade;
    QString cmdPath;
};

TEST_F(Settings, FirstStartWithoutFile) {
    for (bool systemChinese : {false, true}) {
        cmdPath = QString();
        Load(systemChinese);
        EXPECT_EQ(main.Chinese, systemChinese);
        EXPECT_TRUE(main.RealTimeHelp);
        EXPECT_EQ(main.LocalCom, QString()); // no port until the serial tab finds one
        EXPECT_EQ(main.Model, 1);
        EXPECT_EQ(cmdPath, QString());
        EXPECT_EQ(upgrade.IP, QString());
        EXPECT_EQ(upgrade.MAC, QString());
        EXPECT_EQ(upgrade.FileName, QString());
        EXPECT_EQ(login.UserName, u"vesta");
        EXPECT_EQ(login.Password, u"vesta");
        EXPECT_FALSE(QFile::exists(IniPath())) << "loading must not create the file";
    }
    // Making a context opens the file without creating it either.
    TAppContext context(dir.path());
    EXPECT_FALSE(QFile::exists(IniPath()));
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
        EXPECT_EQ(main.RealTimeHelp, c.on) << c.value;
        EXPECT_EQ(main.Chinese, c.on) << c.value; // unparsable: the system default (Chinese here)
    }
}

TEST_F(Settings, StringsAreTakenAsTheyAre) {
    WriteIni("[System]\r\nLocalCom=ttyUSB7\r\nFilePath=\r\nUpgradeIP=\r\n");
    cmdPath = QStringLiteral("/previous/DataSelf.txt");
    Load();
    EXPECT_EQ(main.LocalCom, u"ttyUSB7"); // shown even though no such port exists
    EXPECT_EQ(cmdPath, QString());        // present but empty: empty, not the default

    WriteIni("[System]\r\nLocalCom=\r\n");
    cmdPath = QStringLiteral("/previous/DataSelf.txt");
    Load();
    EXPECT_EQ(main.LocalCom, QString());
    EXPECT_EQ(cmdPath, u"/previous/DataSelf.txt"); // missing: the current value stays
}

TEST_F(Settings, FullSaveWritesEveryKeyInOrder) {
    Load();
    main = {true, true, U("COM4"), 3};
    cmdPath = U("/home/u/命令.txt");
    upgrade = {U("192.168.0.7"), U("00 1A 2B 3C 4D 5E"), U("/fw/z2.bin")};
    login.Password = U("s3cr;t");
    ASSERT_TRUE(SaveAll());
    EXPECT_EQ(IniBytes(), QByteArray("[System]\r\nLanguage=1\r\nRealTimeHelp=1\r\nLocalCom=COM4\r\nZNum=3\r\n"
                                     "UserName=vesta\r\nPassword=s3cr;t\r\nUpgradeIP=192.168.0.7\r\n"
                                     "UpgradeMAC=00 1A 2B 3C 4D 5E\r\nUpgradeFileName=/fw/z2.bin\r\n"
                                     "FilePath=/home/u/命令.txt\r\n"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(IniPath()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // The next start reads it all back, the log-in fields included.
    login = TLoginText{};
    cmdPath = QString();
    Load(false);
    EXPECT_TRUE(main.Chinese);
    EXPECT_EQ(main.LocalCom, u"COM4");
    EXPECT_EQ(main.Model, 3);
    EXPECT_EQ(cmdPath, U("/home/u/命令.txt"));
    EXPECT_EQ(upgrade.MAC, u"00 1A 2B 3C 4D 5E");
    EXPECT_EQ(login.Password, u"s3cr;t");
}

TEST_F(Settings, SaveReplacesInPlaceAndKeepsForeignLines) {
    WriteIni("; my notes\r\n[System]\r\nZNum=2\r\nRealTimeHelp=2\r\nCustom=keep\r\n\r\n[Extra]\r\nA=1\r\n");
    Load();
    EXPECT_TRUE(main.RealTimeHelp);
    ASSERT_TRUE(SaveAll());
    EXPECT_EQ(IniBytes(), QByteArray("; my notes\r\n[System]\r\nZNum=2\r\nRealTimeHelp=1\r\nCustom=keep\r\n"
                                     "Language=0\r\nLocalCom=\r\nUserName=vesta\r\nPassword=vesta\r\n"
                                     "UpgradeIP=\r\nUpgradeMAC=\r\nUpgradeFileName=\r\nFilePath=\r\n\r\n"
                                     "[Extra]\r\nA=1\r\n"));
}

TEST_F(Settings, KilledRunThatOnlySwitchedLanguage) {
    Load(false);
    ASSERT_TRUE(SaveLanguage(*ini, true)); // the language switch; the process then ended otherwise
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
    LoadFrom(programDir + QStringLiteral("/Cfg.ini"), false);
    EXPECT_EQ(main.LocalCom, QString());
    const QString expected = QStringLiteral("Unable to write to ") + programDir + QStringLiteral("/Cfg.ini");
    // Each window's save says so on its own.
    for (const TStatus& r :
         {SaveLanguage(*ini, true), SaveMainSettings(*ini, main), SaveLoginSettings(*ini, login),
          SaveUpgradeSettings(*ini, upgrade), SaveCmdFilePath(*ini, cmdPath)}) {
        EXPECT_FALSE(r.Ok());
        EXPECT_EQ(ErrorMessage(r.Error()), expected);
    }
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
    // Started: the file is read as usual and the context has removed the stale temporary files
    // (and written the language file beside it).
    TAppContext context(dir.path());
    const QStringList files{QStringLiteral("Cfg.ini"), QStringLiteral("Lang.txt")};
    EXPECT_EQ(LoadMainSettings(context.Settings(), false).Model, 3);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), files);
    // Closed: the save says where it could not write, and the file is as it was, mode included
    // (the directory is writable, so a rename would have replaced it; root may write it too).
    main.LocalCom = QStringLiteral("/dev/ttyS0");
    const TStatus r = SaveMainSettings(context.Settings(), main);
    EXPECT_FALSE(r.Ok());
    EXPECT_EQ(ErrorMessage(r.Error()), QStringLiteral("Unable to write to ") + IniPath());
    EXPECT_EQ(IniBytes(), before);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(IniPath()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0400u);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), files);
}

TEST_F(Settings, DeviceInPlaceOfTheFileGivesDefaultsAndIsNotWritten) {
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), IniPath()));
    Load(false); // returns: /dev/zero is not read until memory runs out
    EXPECT_EQ(main.LocalCom, QString());
    EXPECT_FALSE(SaveAll().Ok());
    EXPECT_TRUE(QFileInfo(IniPath()).isSymLink());
}

TEST_F(Settings, OldGbkFileOfTheWindowsTool) {
    QFile src(QDir(QStringLiteral(VARNIX_DATA_DIR)).filePath(QStringLiteral("app/Cfg_old_gbk.ini")));
    ASSERT_TRUE(src.open(QIODevice::ReadOnly));
    WriteIni(src.readAll());
    Load(false);
    EXPECT_TRUE(main.Chinese);
    EXPECT_FALSE(main.RealTimeHelp);
    EXPECT_EQ(main.LocalCom, U("串口3"));
    EXPECT_EQ(main.Model, 3);
    EXPECT_EQ(cmdPath, U("D:\\工具\\DataSelf.txt"));
    EXPECT_EQ(upgrade.FileName, U("D:\\固件\\z2.bin"));
    EXPECT_EQ(login.UserName, u"admin");
    EXPECT_EQ(login.Password, U("密码"));
    // Saving turns the whole file into UTF-8 with the same values.
    ASSERT_TRUE(SaveAll());
    const QByteArray bytes = IniBytes();
    EXPECT_TRUE(bytes.contains(U("LocalCom=串口3\r\n").toUtf8()));
    EXPECT_TRUE(bytes.contains(U("FilePath=D:\\工具\\DataSelf.txt\r\n").toUtf8()));
}

TEST_F(Settings, LoginThatDoesNotFitIsNotTaken) {
    // Seven bytes, and four Chinese characters (eight bytes): the module's fields hold six.
    WriteIni(U("[System]\r\nUserName=abcdefg\r\nPassword=密码密码\r\n").toUtf8());
    login = {U("kept"), U("kept2")};
    Load(false);
    EXPECT_EQ(login.UserName, u"kept");
    EXPECT_EQ(login.Password, u"kept2");
}

TEST_F(Settings, PythonConfigParserReadsTheFile) {
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        GTEST_SKIP() << "python3 not installed";
    Load();
    main.LocalCom = U("ttyUSB0");
    cmdPath = U("/data/命令 列表.txt");
    upgrade.MAC = U("00 1A 2B 3C 4D 5E");
    login.Password = U("p%w=;");
    ASSERT_TRUE(SaveAll());

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
    ASSERT_EQ(t.size(), 15u);
    // The windows' geometry comes after every key of the older files, so their order is kept.
    const QStringList keys{U("Language"),      U("RealTimeHelp"),    U("LocalCom"),
                           U("ZNum"),          U("UserName"),        U("Password"),
                           U("UpgradeIP"),     U("UpgradeMAC"),      U("UpgradeFileName"),
                           U("FilePath"),      U("MainGeometry"),    U("UpgradeGeometry"),
                           U("DebugGeometry"), U("RolloutGeometry"), U("InventoryGeometry")};
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
