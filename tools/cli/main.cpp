// varnix-cli: find, read, change and provision modules from a shell.
#include "cli/capture_option.h"
#include "cli/commands.h"

#include <QCoreApplication>

#include <sys/resource.h>

int main(int argc, char** argv) {
    // Modules read side by side each take a socket or two per local address; the usual soft
    // limit of 1024 descriptors is lifted to the hard one.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("varnix-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VARNIX_VERSION));
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    return varnix::cli::RunWithCapture(args, &varnix::cli::RunCli);
}
