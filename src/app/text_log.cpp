#include "app/text_log.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace varnix {

namespace {

std::mutex& TxtLogLock() {
    static std::mutex lock;
    return lock;
}

TError WriteError(const QString& path, int err) {
    const QString message =
        QStringLiteral("Unable to write to %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(err)));
    return TError{"", path.toStdString(), message.toStdString()};
}

} // namespace

TStatus WriteTxtLine(const QString& Path, const QStringList& Fields) {
    const QByteArray line = (Fields.join(u'|') + QStringLiteral("\r\n")).toUtf8();
    const QByteArray native = QFile::encodeName(Path);

    std::lock_guard guard(TxtLogLock());
    const int fd = ::open(native.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return WriteError(Path, errno);
    const char* p = line.constData();
    qsizetype left = line.size();
    int err = 0;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            err = errno;
            break;
        }
        p += n;
        left -= n;
    }
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err != 0)
        return WriteError(Path, err);
    return {};
}

} // namespace varnix
