// The program directory: --home, a writable executable directory, else the XDG config home.
#include "app/app_paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "qt_print.h"

namespace varnix {
namespace {

QString U(const char* s) {
    return QString::fromUtf8(s);
}

TEST(ProgramDir, HomeOption) {
    struct Case {
        QStringList args;
        std::optional<QString> home;
    };
    const Case cases[] = {
        {{U("varnix")}, std::nullopt},
        {{U("varnix"), U("--home"), U("/tmp/a")}, U("/tmp/a")},
        {{U("varnix"), U("--home=/tmp/b")}, U("/tmp/b")},
        {{U("varnix"), U("--home"), U("/tmp/a"), U("--home=/tmp/c")}, U("/tmp/c")},
        {{U("varnix"), U("--home")}, std::nullopt}, // no value
        {{U("varnix"), U("--home=")}, std::nullopt},
        {{U("--home"), U("/x")}, std::nullopt}, // the program name is not an option
    };
    for (const Case& c : cases)
        EXPECT_EQ(HomeOption(c.args), c.home) << c.args.join(u' ').toStdString();
}

TEST(ProgramDir, Resolution) {
    QTemporaryDir tmp;
    const QString exeDir = tmp.filePath(U("bin"));
    ASSERT_TRUE(QDir().mkpath(exeDir));
    const QString blocker = tmp.filePath(U("file"));
    {
        QFile f(blocker);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const QString unusableExeDir = blocker + U("/bin"); // cannot exist below a plain file
    const QString xdg = tmp.filePath(U("xdg"));
    const QString home = tmp.filePath(U("home"));

    // --home wins over everything and is created.
    const QString chosen = tmp.filePath(U("chosen/deep"));
    EXPECT_EQ(ResolveProgramDir({{U("varnix"), U("--home"), chosen}, exeDir, xdg, home}), chosen);
    EXPECT_TRUE(QFileInfo(chosen).isDir());
    // A writable executable directory: portable use.
    EXPECT_EQ(ResolveProgramDir({{U("varnix")}, exeDir + U("/"), xdg, home}), exeDir);
    // Otherwise the XDG config home, created on demand. An installed program's directory is never
    // used, even when this process may write there (root, or a group-writable /usr/local/bin).
    for (const char* installed : {"/usr/bin", "/usr/local/bin/", "/bin", "/usr"})
        EXPECT_EQ(ResolveProgramDir({{U("varnix")}, U(installed), xdg, home}), xdg + U("/varnix"))
            << installed;
    EXPECT_EQ(ResolveProgramDir({{U("varnix")}, unusableExeDir, xdg, home}), xdg + U("/varnix"));
    EXPECT_TRUE(QFileInfo(xdg + U("/varnix")).isDir());
    // Without XDG_CONFIG_HOME, or with a relative one: ~/.config.
    EXPECT_EQ(ResolveProgramDir({{U("varnix")}, unusableExeDir, QString(), home}),
              home + U("/.config/varnix"));
    EXPECT_EQ(ResolveProgramDir({{U("varnix")}, unusableExeDir, U("rel/dir"), home}),
              home + U("/.config/varnix"));
    EXPECT_EQ(ProgramFilePath(exeDir, U("Cfg.ini")), exeDir + U("/Cfg.ini"));
}

} // namespace
} // namespace varnix
