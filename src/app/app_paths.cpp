#include "app/app_paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <unistd.h>

namespace varnix {

namespace {

bool DirWritable(const QString& dir) {
    if (dir.isEmpty()) return false;
    const QByteArray native = QFile::encodeName(dir);
    return ::access(native.constData(), W_OK | X_OK) == 0;
}

QString Prepared(const QString& dir) {
    const QString abs = QDir::cleanPath(QDir(dir).absolutePath());
    QDir().mkpath(abs);
    return abs;
}

}  // namespace

std::optional<QString> HomeOption(const QStringList& arguments) {
    std::optional<QString> home;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == u"--home") {
            if (i + 1 < arguments.size()) home = arguments[++i];
        } else if (a.startsWith(u"--home=")) {
            home = a.mid(7);
        }
    }
    if (home && home->isEmpty()) home.reset();
    return home;
}

QString ResolveProgramDir(const TProgramDirSources& sources) {
    if (auto home = HomeOption(sources.Arguments)) return Prepared(*home);
    if (DirWritable(sources.ExecutableDir)) return Prepared(sources.ExecutableDir);
    QString config = sources.XdgConfigHome;
    // The XDG rules ignore a relative value.
    if (config.isEmpty() || QDir::isRelativePath(config)) config = QDir(sources.HomeDir).filePath(QStringLiteral(".config"));
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

QString ProgramFilePath(const QString& dir, const QString& name) { return QDir(dir).filePath(name); }

}  // namespace varnix
