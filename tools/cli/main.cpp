// varnix-cli: find, read, change and provision modules from a shell.
#include "cli/commands.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("varnix-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VARNIX_VERSION));
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    return varnix::cli::RunCli(args);
}
