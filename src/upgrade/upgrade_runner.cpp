#include "upgrade/upgrade_runner.h"

#include "core/file_read.h"
#include "upgrade/upgrade_readiness.h"

#include <QFile>

#include <cerrno>
#include <cstring>

namespace varnix {

QString EndpointErrorText(const TEndpointError& e, const QString& localIP, const TUpgradeTextFn& text) {
    if (e.Port == 0 || e.Errno == EADDRNOTAVAIL)
        return text(QStringLiteral("lang_Hint_UpNoLocalIP")).arg(localIP);
    // The same words as the check before the run, so the advice fits how the program was installed.
    TUpgradeReadiness r;
    r.LocalIP = localIP.toStdString();
    TReadyFinding f{TReadyProblem::PortError, {e.Port}, e.Errno, {}};
    if (e.Errno == EACCES || e.Errno == EPERM)
        f.Problem = TReadyProblem::PortsDenied;
    else if (e.Errno == EADDRINUSE)
        f.Problem = TReadyProblem::PortInUse;
    r.Findings.push_back(f);
    return ReadinessTexts(r, ProgramFilePath(), text).join(u' ');
}

void ReadFirmwareFile(const QString& path, TUpgradeStart& start, const TUpgradeTextFn& text) {
    // A device (/dev/zero), a pipe or an image above the limit is refused before it is read.
    const std::string file = QFile::encodeName(path).toStdString();
    auto bytes = ReadFirmwareImage(file);
    if (!bytes) {
        // The message names the path first ("PATH: not a regular file"); the text names it itself.
        std::string why = bytes.Error().Message;
        if (why.starts_with(file + ": "))
            why.erase(0, file.size() + 2);
        start.Image.reset();
        start.ImageError = text(QStringLiteral("lang_Hint_UpCannotOpen"))
                               .arg(path, QString::fromStdString(why))
                               .toStdString();
        return;
    }
    start.Image = TIdBytes(bytes->begin(), bytes->end());
}

TUpgradeRunner::TUpgradeRunner(TUpgradeTextFn text, QObject* parent)
    : QObject(parent), text_(std::move(text)) {
    endpoint_.OnReceived = [this](std::uint16_t port, const std::string& sender, std::uint16_t senderPort,
                                  std::span<const std::uint8_t> data) {
        Apply(session_.Datagram(port, sender, senderPort, data));
    };
    connect(&timer_, &QTimer::timeout, this, [this] { Apply(session_.TimerTick()); });
}

void TUpgradeRunner::Start(TUpgradeStart start) {
    Apply(session_.Start(std::move(start)));
}

void TUpgradeRunner::Stop() {
    Apply(session_.Stop());
}

void TUpgradeRunner::Apply(TUpgradeOutput out) {
    if (out.CloseEndpoint)
        endpoint_.Close();
    if (out.OpenEndpoint) {
        if (auto e = endpoint_.Open(session_.localIP())) {
            timer_.stop();
            Apply(session_.Fail(
                QStringLiteral(" ")
                    .append(EndpointErrorText(*e, QString::fromStdString(session_.localIP()), text_))
                    .toStdString()));
            return;
        }
    }
    for (const TUpgradeSend& d : out.Sends) {
        if (auto e = endpoint_.Send(d)) {
            timer_.stop();
            Apply(session_.Fail(
                QStringLiteral(" ")
                    .append(EndpointErrorText(*e, QString::fromStdString(session_.localIP()), text_))
                    .toStdString()));
            return;
        }
    }
    if (out.TimerMs) {
        if (*out.TimerMs == 0)
            timer_.stop();
        else
            timer_.start(*out.TimerMs);
    }
    emit Output(out);
}

} // namespace varnix
