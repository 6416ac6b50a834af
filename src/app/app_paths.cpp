#include "app/app_paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <unistd.h>

namespace varnix {

namespace {

bool DirWritable(const QString& dir) {
    if (dir.isEmpty())
        return false;
    const QByteArray native = QFile::encodeName(dir);
    return ::access(native.constData(), W_OK | X_OK) == 0;
}

// An executable installed by the system's package manager lives under /usr (or /bin, /sbin, which
// are links into it on current systems). Such a directory may well be writable (root starts the
// program, or /usr/local/bin belongs to a staff group), but user settings never belong there.
bool SystemDir(const QString& dir) {
    const QString clean = QDir::cleanPath(dir);
    for (const QString& top : {QStringLiteral("/usr"), QStringLiteral("/bin"), QStringLiteral("/sbin")}) {
        if (clean == top || clean.startsWith(top + u'/'))
            return true;
    }
    return false;
}

QString Prepared(const QString& dir) {
    const QString abs = QDir::cleanPath(QDir(dir).absolutePath());
    QDir().mkpath(abs);
    return abs;
}

} // namespace

std::optional<QString> HomeOption(const QStringList& arguments) {
    std::optional<QString> home;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == u"--home") {
            if (i + 1 < arguments.size())
                home = arguments[++i];
        } else if (a.startsWith(u"--home=")) {
            home = a.mid(7);
        }
    }
    if (home && home->isEmpty())
        home.reset();
    return home;
}

QString ResolveProgramDir(const TProgramDirSources& sources) {
    if (auto home = HomeOption(sources.Arguments))
        return Prepared(*home);
    if (!SystemDir(sources.ExecutableDir) && DirWritable(sources.ExecutableDir))
        return Prepared(sources.ExecutableDir);
    QString config = sources.XdgConfigHome;
    // The XDG rules ignore a relative value.
    if (config.isEmpty() || QDir::isRelativePath(config))
        config = QDir(sources.HomeDir).filePath(QStringLiteral(".config"));
    return Prepared(QDir(config).filePath(QStringLiteral("varnix")));
}

QString ResolveProgramDir() {
    TProgramDirSources s;
    s.Arguments = QCoreApplication::arguments();
    s.ExecutableDir = QCoreApplication::applicationDirPath();
    s.XdgConfigHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    s.HomeDir = qEnvironmentVariable("HOME", QDir::homePath());
    return ResolveProgramDir(s);
}

QString ProgramFilePath(const QString& dir, const QString& name) {
    return QDir(dir).filePath(name);
}

} // namespace varnix
