#pragma once
// The program's directory: where Cfg.ini, Lang.txt, the default DataSelf.txt and exported
// lists live. Resolved once at start and passed to whatever needs it.
//
// In order: the directory named by "--home DIR" (or "--home=DIR"); the executable's own
// directory when it is writable and not a system directory (/usr/..., /bin, /sbin) (portable
// use); else $XDG_CONFIG_HOME/varnix, or
// ~/.config/varnix without XDG_CONFIG_HOME. The chosen directory is created when missing.

#include <QString>
#include <QStringList>

#include <optional>

namespace varnix {

// What the resolution looks at, gathered so that it can be tested without a real process.
struct TProgramDirSources {
    QStringList Arguments; // command line, program name first
    QString ExecutableDir;
    QString XdgConfigHome; // value of $XDG_CONFIG_HOME (may be empty)
    QString HomeDir;       // value of $HOME
};

// The value of "--home DIR" / "--home=DIR", when given (the last one counts).
std::optional<QString> HomeOption(const QStringList& arguments);

// Resolves and creates the directory. Returns an absolute path without a trailing slash.
QString ResolveProgramDir(const TProgramDirSources& sources);

// The same for this process: QCoreApplication's arguments and directory and the environment.
// Needs a QCoreApplication.
QString ResolveProgramDir();

// `name` inside `dir`.
QString ProgramFilePath(const QString& dir, const QString& name);

} // namespace varnix
