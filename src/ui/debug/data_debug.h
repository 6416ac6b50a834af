#pragma once
// Tfrm_DataDebug: the network data debugging window. The user opens one role towards a module
// (UDP server, TCP server, UDP client, TCP client — the mirror of the module's work mode), sends
// the 50 stored command rows singly or in a timed cycle, and sees what comes back in the
// received-data pane. Opened modally from the Z2 page; each opening presets the role, address
// and port from the module's values and loads the command list; every way of closing saves the
// list, stops the cycle and closes the role.

#include "app/app_context.h"
#include "debug/cmd_file.h"
#include "debug/cycle_worker.h"
#include "lang/apply_texts.h"

#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <set>
#include <vector>

class QHostAddress;
class QLabel;
class QTcpServer;
class QTcpSocket;
class QUdpSocket;

namespace Ui {
class Tfrm_DataDebug;
}

namespace varnix {

class IUserPrompts;
class TFrameCmd;
class TRecvModel;

// What the window takes from the main window's Z2 page when it opens.
struct TDataDebugPreset {
    int WorkModeIndex = -1; // 0 UDP Client, 1 TCP Client, 2 UDP Server, 3 TCP Server, 4 HTTPD Client
    QString RemoteIP;
    QString LocalPort;
    QString RemotePort;
};

// The module the page shows: its address (from its search reply) and this PC's address that
// heard it. Empty when the window opens for no module.
struct TDataDebugModule {
    QString IP;
    QString LocalIP;
};

struct TDataDebugOptions {
    QString ProgramDir;              // where "DataSelf.txt" lives
    IUserPrompts* Prompts = nullptr; // the real dialogs when null
    bool IncludeLoopback = false;    // cbbIP's list also offers loopback addresses
};

class Tfrm_DataDebug final : public QDialog {
    Q_OBJECT
public:
    enum Role { UdpServer = 0, TcpServer = 1, UdpClient = 2, TcpClient = 3 };

    // `context` must outlive the window. The window owns the "FilePath" key of the settings: it
    // reads it now and writes it whenever the command-list file changes and when the program ends.
    Tfrm_DataDebug(TAppContext& context, TDataDebugOptions options, QWidget* parent = nullptr);
    ~Tfrm_DataDebug() override;

    // Presets and loads (the showing steps), then runs modally until closed.
    void ShowModal(const TDataDebugPreset& preset, const TDataDebugModule& module = {});
    // The showing steps alone (tests show the window without a modal loop).
    void PrepareShow(const TDataDebugPreset& preset, const TDataDebugModule& module = {});
    void ApplyDataDebugTexts();

    // --- Connection. ---
    void btnConnetClick();
    void SendRow(int index);
    void LockConnControls(bool active);
    bool CheckIPPort();
    void StopCycleSend();
    void btnCycleSendClick();

    // --- Rows and the command-list file. ---
    TFrameCmd* CmdRow(int index) const { return cmdRows_[static_cast<std::size_t>(index)]; }
    void ClearCmdRows();
    // False when the write fails, and (without a word when the window closes) for a file this
    // window refused to load: it is never written over.
    bool SaveCmdFile(const QString& path);
    // False when the file is missing or does not read as a command list (rows unchanged). A file
    // that is there but refused (too large, binary, a pipe, a link, unreadable, foreign text) is
    // remembered: SaveCmdFile leaves it alone, which the refusal message says. A missing file is
    // reported only when `reportMissing` (a file the user chose, not the default list that the
    // first closing writes).
    bool LoadCmdFile(const QString& path, bool reportMissing = true);
    void btnImportClick();
    void btnExportClick();
    QString DefaultCmdFile() const;
    // The command-list file of the settings ("" = DefaultCmdFile()).
    const QString& CmdFilePath() const { return cmdFilePath_; }

    QString StatusText() const;
    TRecvModel& Received() { return *recv_; }
    // Connected TCP clients of the server role.
    int ClientCount() const { return static_cast<int>(clients_.size()); }

protected:
    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void CreateCmdRows();
    void WireControls();
    void ApplyPreset(const TDataDebugPreset& preset, const TDataDebugModule& module);
    void SetStatus(const QString& text);
    QString Text(const char* key) const;
    bool CaptionIs(const QWidget* button, const char* key) const;
    bool RoleOpen() const;
    void SetUdpDestVisible(bool visible);
    void UpdateCycleRows();
    void FormClose();
    void FillLocalAddresses();
    // Enter in a field never presses a button of this window: Clear and the connect button
    // would throw away rows, received data or a connection.
    void DropDefaultButtons();
    // Takes `path` as the command-list file and writes it to the settings at once.
    void SetCmdFilePath(const QString& path);
    // Roles (data_debug_net.cpp).
    void ToggleUdp();
    void ToggleTcpServer();
    void ToggleTcpClient();
    void CloseRole();
    void WireSockets();
    void DropClients();
    void ServerNewConnection();
    void ClientSocketError(QTcpSocket* client);
    void ReadUdp();
    void ReadTcp(QTcpSocket* socket);
    void ShowReceived(const QString& peer, const QByteArray& data);
    void CaptureUdp(capture::TDirection direction, const QString& peer, quint16 peerPort,
                    const QHostAddress& local, const QByteArray& data);

    TAppContext& ctx_;
    TTexts texts_;
    std::unique_ptr<Ui::Tfrm_DataDebug> ui;
    TDataDebugOptions options_;
    QString cmdFilePath_;
    std::unique_ptr<IUserPrompts> ownPrompts_;
    IUserPrompts* prompts_ = nullptr;
    std::vector<TFrameCmd*> cmdRows_;
    // Absolute paths of files LoadCmdFile refused, for as long as the window lives.
    std::set<QString> refusedFiles_;
    QLabel* statusPanel_ = nullptr;

    capture::ICaptureSink* capture_ = nullptr; // the context's: datagrams sent and received
    QUdpSocket* udp_ = nullptr;                // idpsrvr1
    QTcpServer* server_ = nullptr;             // ServerSocket1
    QTcpSocket* tcp_ = nullptr;                // clntsckt1
    std::vector<QPointer<QTcpSocket>> clients_;

    TCycleWorker worker_;
    // Bumped by every stop: a send handed over by an earlier run is dropped.
    quint64 cycleRun_ = 0;

    // Where a UDP role sends: the module's address and data port from the preset.
    QString moduleIP_;
    QString modulePort_;

    TRecvModel* recv_ = nullptr;
    QTimer recvFlush_;
    bool closing_ = false;
};

} // namespace varnix
