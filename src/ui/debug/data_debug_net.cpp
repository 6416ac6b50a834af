// The four roles of the debugging window on Qt Network, all on the window thread: UDP server and
// client share one UDP socket bound to cbbIP:edtPort, the TCP server listens on every local
// address and sends to every client, the TCP client connects to cbbIP:edtPort. Whatever comes
// back is shown in the received-data pane.

#include "core/convert.h"
#include "debug/recv_model.h"
#include "lang/text_codec.h"
#include "ui/debug/data_debug.h"
#include "ui/debug/frame_cmd.h"
#include "ui_data_debug.h"

#include <QHostAddress>
#include <QLabel>
#include <QNetworkDatagram>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTime>
#include <QUdpSocket>

namespace varnix {

namespace {

// Room for a burst of replies while the window is busy (the kernel caps it at rmem_max).
constexpr int UdpReceiveBuffer = 4 * 1024 * 1024;
// What Qt buffers of each TCP connection before the window reads it: a peer that sends faster than
// the window reads is held back by TCP itself instead of filling memory.
constexpr qint64 TcpReadBuffer = 64 * 1024;

QString Ipv4Text(const QHostAddress& a) {
    bool ok = false;
    const quint32 v4 = a.toIPv4Address(&ok);
    return ok ? QHostAddress(v4).toString() : a.toString();
}

QString PeerText(const QHostAddress& a, quint16 port) {
    return Ipv4Text(a) + u':' + QString::number(port);
}

quint16 PortOf(const QString& text) {
    bool ok = false;
    const uint v = text.toUInt(&ok);
    return ok && v <= 65535 ? static_cast<quint16>(v) : 0;
}

QString ErrorText(const QAbstractSocket& s) {
    return QString::number(static_cast<int>(s.error())) + QStringLiteral(" (") + s.errorString() + u')';
}

} // namespace

void Tfrm_DataDebug::WireSockets() {
    udp_ = new QUdpSocket(this);
    udp_->setObjectName(QStringLiteral("idpsrvr1"));
    server_ = new QTcpServer(this);
    server_->setObjectName(QStringLiteral("ServerSocket1"));
    tcp_ = new QTcpSocket(this);
    tcp_->setObjectName(QStringLiteral("clntsckt1"));
    tcp_->setReadBufferSize(TcpReadBuffer);

    connect(udp_, &QUdpSocket::readyRead, this, &Tfrm_DataDebug::ReadUdp);
    connect(server_, &QTcpServer::newConnection, this, &Tfrm_DataDebug::ServerNewConnection);
    connect(tcp_, &QTcpSocket::readyRead, this, [this] { ReadTcp(tcp_); });
    connect(tcp_, &QTcpSocket::connected, this, [this] {
        ui->btnConnet->setText(Text("lang_DataDebug_disconnect"));
        SetStatus(Text("lang_Hint_DataDebug_ServerConnect") + Ipv4Text(tcp_->peerAddress()));
        LockConnControls(true);
    });
    connect(tcp_, &QTcpSocket::disconnected, this, [this] {
        ui->btnConnet->setText(Text("lang_DataDebug_btnConnet"));
        SetStatus(Text("lang_Hint_DataDebug_ServerDisconnect") + ui->cbbIP->currentText());
        LockConnControls(false);
        StopCycleSend();
    });
    connect(tcp_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::RemoteHostClosedError)
            return; // an orderly close, not a fault
        SetStatus(Text("lang_Hint_DataDebug_ServerError") + ErrorText(*tcp_));
        // A connect that failed gives the controls back, so the address or port can be corrected.
        if (tcp_->state() == QAbstractSocket::UnconnectedState &&
            CaptionIs(ui->btnConnet, "lang_DataDebug_btnConnet"))
            LockConnControls(false);
    });
}

void Tfrm_DataDebug::btnConnetClick() {
    switch (ui->cbbProtrolType->currentIndex()) {
    case UdpServer:
    case UdpClient:
        ToggleUdp();
        break;
    case TcpServer:
        ToggleTcpServer();
        break;
    case TcpClient:
        ToggleTcpClient();
        break;
    default:
        break;
    }
}

void Tfrm_DataDebug::SetUdpDestVisible(bool visible) {
    ui->lblRemote->setVisible(visible);
    ui->edtLoIP->setVisible(visible);
    ui->edtLoport->setVisible(visible);
}

void Tfrm_DataDebug::ToggleUdp() {
    if (!CaptionIs(ui->btnConnet, "lang_DataDebug_btnStart")) {
        udp_->close();
        ui->btnConnet->setText(Text("lang_DataDebug_btnStart"));
        SetStatus(Text("lang_Hint_DataDebug_UDPStop"));
        SetUdpDestVisible(false);
        StopCycleSend();
    } else if (CheckIPPort()) {
        udp_->close();
        const QHostAddress local(ui->cbbIP->currentText().trimmed());
        if (local.isNull() || !udp_->bind(local, PortOf(ui->edtPort->text()))) {
            SetStatus(local.isNull() ? Text("lang_Hint_DataDebug_IPPort") : udp_->errorString());
            udp_->close();
        } else {
            udp_->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, UdpReceiveBuffer);
            ui->btnConnet->setText(Text("lang_DataDebug_btnStop"));
            SetStatus(Text("lang_Hint_DataDebug_UDPStart"));
            // Towards the module when the window was opened for one, else back to this address.
            if (!moduleIP_.isEmpty()) {
                ui->edtLoIP->setText(moduleIP_);
                if (!modulePort_.isEmpty())
                    ui->edtLoport->setText(modulePort_);
            } else {
                ui->edtLoIP->setText(ui->cbbIP->currentText());
            }
            SetUdpDestVisible(true);
        }
    } else {
        return;
    }
    LockConnControls(udp_->state() == QAbstractSocket::BoundState);
}

void Tfrm_DataDebug::ToggleTcpServer() {
    if (!CaptionIs(ui->btnConnet, "lang_DataDebug_btnStart")) {
        server_->close();
        DropClients();
        ui->btnConnet->setText(Text("lang_DataDebug_btnStart"));
        SetStatus(Text("lang_Hint_DataDebug_ServiceStop"));
        StopCycleSend();
    } else if (CheckIPPort()) {
        server_->close();
        if (server_->listen(QHostAddress::AnyIPv4, PortOf(ui->edtPort->text()))) {
            SetStatus(Text("lang_Hint_DataDebug_ServiceStart"));
            ui->btnConnet->setText(Text("lang_DataDebug_btnStop"));
        } else {
            SetStatus(server_->errorString());
            ui->btnConnet->setText(Text("lang_DataDebug_btnStart"));
        }
    } else {
        return;
    }
    LockConnControls(server_->isListening());
}

void Tfrm_DataDebug::ToggleTcpClient() {
    if (!CaptionIs(ui->btnConnet, "lang_DataDebug_btnConnet")) {
        tcp_->disconnectFromHost(); // what was written still goes out
        ui->btnConnet->setText(Text("lang_DataDebug_btnConnet"));
        StopCycleSend();
    } else if (CheckIPPort()) {
        tcp_->abort();
        tcp_->connectToHost(ui->cbbIP->currentText().trimmed(), PortOf(ui->edtPort->text()));
    } else {
        return;
    }
    LockConnControls(tcp_->state() != QAbstractSocket::UnconnectedState);
}

void Tfrm_DataDebug::CloseRole() {
    switch (ui->cbbProtrolType->currentIndex()) {
    case UdpServer:
    case UdpClient:
        udp_->close();
        ui->btnConnet->setText(Text("lang_DataDebug_btnStart"));
        LockConnControls(false);
        SetUdpDestVisible(false);
        break;
    case TcpServer:
        server_->close();
        DropClients();
        ui->btnConnet->setText(Text("lang_DataDebug_btnStart"));
        LockConnControls(server_->isListening());
        break;
    case TcpClient:
        tcp_->disconnectFromHost();
        ui->btnConnet->setText(Text("lang_DataDebug_btnConnet"));
        LockConnControls(false);
        break;
    default:
        break;
    }
}

// Closing a client raises its disconnected signal at once, so the list is emptied first.
void Tfrm_DataDebug::DropClients() {
    const std::vector<QPointer<QTcpSocket>> old = std::exchange(clients_, {});
    for (const QPointer<QTcpSocket>& c : old) {
        if (!c)
            continue;
        c->abort();
        c->deleteLater();
    }
}

void Tfrm_DataDebug::ServerNewConnection() {
    while (QTcpSocket* client = server_->nextPendingConnection()) {
        client->setReadBufferSize(TcpReadBuffer);
        clients_.emplace_back(client);
        ui->btnConnet->setText(Text("lang_DataDebug_btnStop"));
        SetStatus(Text("lang_Hint_DataDebug_ClientConnect") + Ipv4Text(client->peerAddress()));
        connect(client, &QTcpSocket::readyRead, this, [this, client] { ReadTcp(client); });
        connect(client, &QTcpSocket::errorOccurred, this, [this, client] { ClientSocketError(client); });
        connect(client, &QTcpSocket::disconnected, this, [this, client] {
            std::erase_if(clients_, [](const QPointer<QTcpSocket>& c) { return c.isNull(); });
            const auto it = std::find(clients_.begin(), clients_.end(), client);
            if (it == clients_.end())
                return; // dropped by Stop
            if (clients_.size() == 1)
                SetStatus(Text("lang_Hint_DataDebug_ClientDisconnect"));
            clients_.erase(it);
            client->deleteLater();
        });
    }
}

void Tfrm_DataDebug::ClientSocketError(QTcpSocket* client) {
    if (client->error() == QAbstractSocket::RemoteHostClosedError)
        return;
    SetStatus(Text("lang_Hint_DataDebug_ClientError") + ErrorText(*client));
}

void Tfrm_DataDebug::SendRow(int index) {
    if (index < 0 || index >= CmdRowCount)
        return;
    const TFrameCmd* row = CmdRow(index);
    std::string bytes = DisplayToBytes(row->Cmd());
    if (row->Hex()) {
        TIdBytes out;
        (void)HexTextToBytes(bytes, out); // sent whatever the conversion reports
        bytes.assign(out.begin(), out.end());
    }
    const QByteArray data(bytes.data(), static_cast<qsizetype>(bytes.size()));
    switch (ui->cbbProtrolType->currentIndex()) {
    case UdpServer:
    case UdpClient:
        if (udp_->state() == QAbstractSocket::BoundState) {
            const QString dest = ui->edtLoIP->text().trimmed();
            const quint16 port = PortOf(ui->edtLoport->text());
            if (udp_->writeDatagram(data, QHostAddress(dest), port) == data.size())
                CaptureUdp(capture::TDirection::Sent, dest, port, QHostAddress(), data);
        }
        break;
    case TcpServer:
        for (const QPointer<QTcpSocket>& c : clients_)
            if (c && c->state() == QAbstractSocket::ConnectedState)
                c->write(data);
        break;
    case TcpClient:
        if (tcp_->state() == QAbstractSocket::ConnectedState)
            tcp_->write(data);
        break;
    default:
        break;
    }
}

// Reads at most a batch per turn of the event loop, so that a flood of datagrams leaves the
// window responsive; the rest waits in the socket's (enlarged) receive buffer.
void Tfrm_DataDebug::ReadUdp() {
    constexpr int Batch = 500;
    for (int n = 0; n < Batch; ++n) {
        if (!udp_->hasPendingDatagrams())
            return;
        const QNetworkDatagram d = udp_->receiveDatagram();
        if (!d.isValid())
            return;
        CaptureUdp(capture::TDirection::Received, d.senderAddress().toString(),
                   static_cast<quint16>(d.senderPort()), d.destinationAddress(), d.data());
        ShowReceived(PeerText(d.senderAddress(), static_cast<quint16>(d.senderPort())), d.data());
    }
    QMetaObject::invokeMethod(this, &Tfrm_DataDebug::ReadUdp, Qt::QueuedConnection);
}

// The datagrams go to the capture as the user's own data (never masked); the local address is the
// one the datagram reached, else the socket's binding. TCP streams are not captured: a capture
// holds UDP datagrams and serial chunks only.
void Tfrm_DataDebug::CaptureUdp(capture::TDirection direction, const QString& peer, quint16 peerPort,
                                const QHostAddress& local, const QByteArray& data) {
    if (capture_ == nullptr)
        return;
    const QHostAddress at = local.protocol() == QAbstractSocket::IPv4Protocol ? local : udp_->localAddress();
    const std::string localText = at.toString().toStdString();
    const std::string peerText = peer.toStdString();
    capture_->Datagram({direction,
                        capture::TChannel::Debug,
                        localText,
                        udp_->localPort(),
                        peerText,
                        peerPort,
                        std::span(reinterpret_cast<const std::uint8_t*>(data.constData()),
                                  static_cast<std::size_t>(data.size())),
                        {}});
}

// A read is at most TcpReadBuffer bytes; its line keeps what it shows (TRecvModel).
void Tfrm_DataDebug::ReadTcp(QTcpSocket* socket) {
    const QByteArray data = socket->readAll();
    if (!data.isEmpty())
        ShowReceived(PeerText(socket->peerAddress(), socket->peerPort()), data);
}

void Tfrm_DataDebug::ShowReceived(const QString& peer, const QByteArray& data) {
    recv_->Queue({QTime::currentTime(), peer, data});
    if (!recvFlush_.isActive())
        recvFlush_.start();
}

} // namespace varnix
