#pragma once
// The single-instance guard: one copy of the program per program directory.
//
// The first copy takes a lock file (created atomically, so of two copies started at the same
// instant exactly one wins; a lock left by a crashed copy is recognised by its dead process id
// and taken over) and listens on a local socket. A later copy finds the lock taken, asks the
// first copy through that socket to restore and raise its window (and its active modal dialog),
// and ends before it creates any window.

#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;

namespace varnix {

class TRunOnce final : public QObject {
    Q_OBJECT
public:
    explicit TRunOnce(const QString& programDir, QObject* parent = nullptr);
    ~TRunOnce() override;

    // True when another copy runs (it has been asked to come forward): this copy must not start.
    // False when this copy is the first; it then answers the requests of later copies.
    bool CheckRunOnce();

    const QString& ServerName() const { return serverName_; }
    const QString& LockPath() const { return lockPath_; }

signals:
    // A later copy asked this one to restore and raise its window.
    void RaiseRequested();

private:
    void OnConnection();

    QString serverName_;
    QString lockPath_;
    QLockFile lock_;
    std::unique_ptr<QLocalServer> server_;
};

} // namespace varnix
