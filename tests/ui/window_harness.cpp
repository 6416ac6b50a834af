#include "window_harness.h"

#include "lang/app_lang.h"

#include "ui/main/log_pane.h"

#include <gtest/gtest.h>

#include "ui/main/fleet_view.h"

#include "core/blocks.h"
#include "core/convert.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QTest>
#include <QTextBlock>
#include <QTreeView>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace varnix::test {

TMainOptions SimWindowOptions(const QString& home, TScriptedPrompts& prompts) {
    TMainOptions o;
    o.ProgramDir = home;
    o.Prompts = &prompts;
    o.SystemIsChinese = false;
    o.OpenUrl = [](const QUrl&) {};
    o.VerifyTimeoutMs = 8000;
    return o;
}

TSink::TSink() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = 0;
    inet_pton(AF_INET, "127.0.0.1", &sa.sin_addr);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    socklen_t len = sizeof sa;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
}

TSink::~TSink() {
    ::close(fd_);
}

std::vector<TIdBytes> TSink::Drain(int ms) {
    std::vector<TIdBytes> out;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0)
        return out;
    for (;;) {
        std::uint8_t buf[2048];
        socklen_t len = sizeof last_;
        const ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&last_), &len);
        if (n < 0)
            break;
        out.emplace_back(buf, buf + n);
    }
    return out;
}

void TSink::Reply(const TIdBytes& data) const {
    ::sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&last_), sizeof last_);
}

std::vector<TPaneLine> PaneLines(QPlainTextEdit* pane) {
    std::vector<TPaneLine> out;
    for (QTextBlock b = pane->document()->begin(); b.isValid(); b = b.next()) {
        QTextCharFormat format = b.charFormat();
        if (b.begin() != b.end())
            format = b.begin().fragment().charFormat();
        QColor colour;
        if (format.hasProperty(QTextFormat::ForegroundBrush))
            colour = format.foreground().color();
        out.push_back({b.text(), colour});
    }
    // An empty document still has one block; it holds no line.
    if (out.size() == 1 && out[0].Text.isEmpty() && pane->document()->isEmpty() && !out[0].Colour.isValid())
        out.clear();
    return out;
}

TIdBytes SearchReply(const std::array<std::uint8_t, 4>& ip, const std::array<std::uint8_t, 6>& mac,
                     int firmware, const std::string& name) {
    TIdBytes d(36, 0);
    d[0] = 0xFF;
    d[1] = 0x24;
    d[2] = 0x01;
    for (int i = 0; i < 4; ++i)
        d[5 + i] = ip[i];
    for (int i = 0; i < 6; ++i)
        d[9 + i] = mac[i];
    d[15] = static_cast<std::uint8_t>(firmware & 0xFF);
    d[16] = static_cast<std::uint8_t>(firmware >> 8);
    for (std::size_t i = 0; i < name.size() && i < 14; ++i)
        d[19 + i] = static_cast<std::uint8_t>(name[i]);
    return d;
}

TIdBytes ParamReply(const std::array<std::uint8_t, 6>& mac, std::int32_t family) {
    TBaseParam base;
    base.AddrType = 1;
    base.LocationURLPort = 1900;
    base.HTTPServerPort = 80;
    base.StaticIP = "10.0.0.50";
    base.GatewayIP = "10.0.0.1";
    base.SubnetMask = "255.255.255.0";
    base.ModName = "Line-1";
    base.UserName = "vesta";
    base.Password = "vesta";
    base.UserMAC = BytesToMacText(mac);
    base.Dns = "10.0.0.1";
    TPortParam port;
    port.BaudRate = 115200;
    port.DataBits = 8;
    port.Parity = 1;
    port.StopBits = 1;
    port.FlowControl = 1;
    port.LocalPort = 8234;
    port.RemotePort = 8234;
    port.RemoteIP = "10.0.0.1";
    port.WorkMode = 3;
    port.TCPSvrCount = 4;
    port.TCPStyle = 1;
    port.UARTLength = 1024;
    TIdBytes d(ParamReplySize, 0);
    EncodeBaseBlock(family, base, std::span<std::uint8_t, BaseBlockSize>(d.data(), BaseBlockSize), 0);
    EncodePortBlock(family, port,
                    std::span<std::uint8_t, PortBlockSize>(d.data() + BaseBlockSize, PortBlockSize), 0);
    return d;
}

QString EnglishText(const char* key) {
    static const TLangList english = [] {
        TLangList lang;
        RegisterBuiltinTexts(lang);
        return lang;
    }();
    return LookUpText(english, QString::fromLatin1(key));
}

TWindowHarness::TWindowHarness(bool chinese, const QString& programDir) {
    TMainOptions o;
    o.ProgramDir = programDir.isEmpty() ? home_.path() : programDir;
    o.Udp.DestinationAddr = "127.0.0.1";
    o.Udp.LocalAddresses = [] { return std::vector<std::string>{"127.0.0.1"}; };
    o.Udp.PortZ2 = Z2.Port();
    o.Udp.PortZ3 = Z3.Port();
    o.Udp.ReceiveBufferBytes = 256 * 1024;
    o.Prompts = &Prompts;
    o.OpenUrl = [this](const QUrl& url) { Opened.push_back(url); };
    o.Now = [] { return QDateTime(QDate(2024, 1, 31), QTime(14, 25, 30)); };
    o.Clock = &Clock;
    o.SystemIsChinese = chinese;
    Context = std::make_unique<TAppContext>(o.ProgramDir);
    win_ = std::make_unique<TFrm_Main>(*Context, o);
    About = std::make_unique<TFrm_About>(*Context, win_.get(),
                                         [this](const QUrl& url) { Opened.push_back(url); });
    Pswd = std::make_unique<TFrm_Pswd>(*Context, win_.get());
    win_->AttachAbout(About.get());
    win_->AttachPswd(Pswd.get());
    TFrm_About* about = About.get();
    TFrm_Pswd* pswd = Pswd.get();
    win_->AddTextsApplier([about] { about->ApplyAboutTexts(); });
    win_->AddTextsApplier([pswd] { pswd->ApplyPswdTexts(); });
    win_->show();
    QApplication::processEvents();
}

TWindowHarness::~TWindowHarness() {
    // The dialogs go before the window that parents them, then the window runs its close steps.
    Pswd.reset();
    About.reset();
    win_.reset();
}

void TWindowHarness::SearchWith(const std::vector<TSearchRow>& rows) {
    win_->Search();
    // Each reply comes from the socket that plays its family's port, where its commands go.
    for (const TSearchRow& r : rows)
        Inject(SearchReply(r.IP, r.Mac, r.Firmware, r.Name), r.SourcePort == 1901 ? Z3.Port() : Z2.Port(),
               "127.0.0.1");
    win_->FlushPending();
    DrainSinks();
}

void TWindowHarness::CheckHealth() {
    auto* health = win_->findChild<TSearchHealth*>();
    bool done = false;
    const auto c = QObject::connect(health, &TSearchHealth::Checked, [&done] { done = true; });
    health->Check();
    PumpUntil([&done] { return done; }, 10000);
    QObject::disconnect(c);
    win_->FlushPending();
}

void TWindowHarness::Inject(const TIdBytes& data, std::uint16_t peerPort, const std::string& peer) {
    win_->Endpoint().HandleDatagram(0, data, peer, peerPort);
}

void TWindowHarness::Answer(TSink& sink, const std::vector<TIdBytes>& replies) {
    EXPECT_FALSE(sink.Drain(1000).empty()) << "no command reached the module";
    win_->FlushPending();
    const int before = win_->HexPane().LineCount();
    for (const TIdBytes& r : replies)
        sink.Reply(r);
    // Handled once the hex pane shows them (four lines each).
    EXPECT_TRUE(PumpUntil([&] {
        win_->FlushPending();
        return win_->HexPane().LineCount() >= before + 4 * static_cast<int>(replies.size());
    })) << "the window did not receive every reply";
}

void TWindowHarness::FinishRead() {
    Clock.Advance(300);
    QApplication::processEvents();
}

void TWindowHarness::ClickRow(int row) {
    auto* list = Find<QTreeView>("lv_Dev");
    QPoint at;
    if (row >= 0) {
        at = list->visualRect(list->model()->index(row, 0)).center();
    } else {
        at = QPoint(10, list->viewport()->height() - 5);
    }
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

void TWindowHarness::DrainSinks() {
    Z2.Drain(0);
    Z3.Drain(0);
}

bool PumpUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qWait(5);
    }
    return true;
}

std::string MacOf(const TIdBytes& d) {
    if (d.size() < 9)
        return {};
    return BytesToMacText(std::span<const std::uint8_t, 6>(d.data() + 3, 6));
}

} // namespace varnix::test
