#include "app/run_once.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <unistd.h>

namespace varnix {

namespace {

constexpr char RaiseMessage[] = "raise\n";

// The folder of the lock and the socket: the user's runtime folder where the session has one (a
// memory file system private to the user), otherwise the temporary folder. Taking the lock writes
// the file and waits for it to reach the disk, which on a disk's folder can take tens of
// milliseconds of every start.
QDir GuardDir() {
    const QFileInfo runtime(qEnvironmentVariable("XDG_RUNTIME_DIR"));
    if (runtime.isAbsolute() && runtime.isDir() && runtime.isWritable())
        return QDir(runtime.filePath());
    return QDir::temp();
}

// One name per user and program directory, a path in the guard's folder.
QString GuardKey(const QString& programDir) {
    const QString dir = QFileInfo(programDir).absoluteFilePath();
    const QByteArray seed = dir.toUtf8() + '\0' + QByteArray::number(static_cast<qulonglong>(getuid()));
    return GuardDir().filePath(
        QStringLiteral("varnix-") +
        QString::fromLatin1(QCryptographicHash::hash(seed, QCryptographicHash::Sha1).toHex().left(16)));
}

} // namespace

TRunOnce::TRunOnce(const QString& programDir, QObject* parent)
    : QObject(parent), serverName_(GuardKey(programDir)), lockPath_(serverName_ + QStringLiteral(".lock")),
      lock_(lockPath_) {
    // A lock is stale only when its process is gone, never by age.
    lock_.setStaleLockTime(0);
}

TRunOnce::~TRunOnce() {
    if (server_)
        server_->close();
    lock_.unlock();
}

bool TRunOnce::CheckRunOnce() {
    if (lock_.tryLock(0)) {
        server_ = std::make_unique<QLocalServer>();
        server_->setSocketOptions(QLocalServer::UserAccessOption);
        // A socket file left by a crashed copy would make listen fail.
        QLocalServer::removeServer(serverName_);
        if (!server_->listen(serverName_)) {
            // Without the socket later copies cannot raise this one, but this copy still runs.
            server_.reset();
            return false;
        }
        connect(server_.get(), &QLocalServer::newConnection, this, &TRunOnce::OnConnection);
        return false;
    }
    // Another copy holds the lock. It may still be starting up, so give its socket a moment.
    const QDeadlineTimer deadline(3000);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(serverName_);
        if (socket.waitForConnected(500)) {
            socket.write(RaiseMessage);
            socket.waitForBytesWritten(1000);
            socket.disconnectFromServer();
            return true;
        }
        QThread::msleep(50);
    }
    return true;
}

void TRunOnce::OnConnection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            const QByteArray data = socket->readAll();
            if (data.contains("raise"))
                emit RaiseRequested();
        });
    }
}

} // namespace varnix
