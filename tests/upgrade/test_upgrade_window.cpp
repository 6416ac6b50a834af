// The upgrade window against the simulated module on a real segment (tests/netns-run --segments 1):
// the module lives in its own namespace with a foreign factory address and no route to the PC
// (10.9.0.1) until the boot reply gives it 10.9.0.50. Its boot request is a broadcast to
// 255.255.255.255:67, so it reaches the window only through its 0.0.0.0:67 socket.
#include "lang/app_lang.h"
#include "ui/common/prompts.h"
#include "ui/upgrade/upgrade_window.h"

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace varnix;

namespace {

template <class T> T* Find(QWidget& w, const char* name) {
    T* c = w.findChild<T*>(QLatin1String(name));
    EXPECT_NE(c, nullptr) << name;
    return c;
}

struct TFixture {
    QTemporaryDir dir;
    TAppContext context{dir.path()};
    TScriptedPrompts prompts;
    std::unique_ptr<Tfrm_Upgrade> w;
    QProcess sim;
    QByteArray image;

    explicit TFixture(QStringList simOptions, int bytes = 256 * 1024) {
        QByteArray data("\x5A\x32\x10\x07", 4);
        for (int i = 0; i < bytes; ++i)
            data.append(static_cast<char>((i * 31) ^ (i >> 9)));
        image = data;
        QFile f(dir.filePath(QStringLiteral("fw.bin")));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
        f.close();
        TUpgradeWindowOptions o;
        o.Prompts = &prompts;
        o.LocalAddresses = [] { return std::vector<std::string>{"10.9.0.1"}; };
        w = std::make_unique<Tfrm_Upgrade>(context, o);
        w->setUpgradeFileName(f.fileName());
        sim.setProgram(QString::fromLocal8Bit(qgetenv("VARNIX_NS_IN_MODULES")));
        sim.setArguments(QStringList{QString::fromLocal8Bit(qgetenv("VARNIX_SIM")),
                                     QStringLiteral("--duration"), QStringLiteral("100"),
                                     QStringLiteral("--upgrade-mac"), QStringLiteral("001A2B3C4D5E"),
                                     QStringLiteral("--upgrade-iface"), QStringLiteral("m0"),
                                     QStringLiteral("--upgrade-out"),
                                     dir.filePath(QStringLiteral("got.bin"))} +
                         simOptions);
        sim.start();
        EXPECT_TRUE(sim.waitForReadyRead(5000));
        EXPECT_EQ(sim.readLine().trimmed(), QByteArray("varnix-sim: ready"));
        w->Open(QStringLiteral("10.9.0.50"), QStringLiteral("001A2B3C4D5E"));
    }
    ~TFixture() {
        sim.terminate();
        sim.waitForFinished(5000);
    }
    QString Info() { return Find<QLabel>(*w, "lbl_Info")->text(); }
    bool WaitRunEnded(int ms) {
        QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired() && !Find<QPushButton>(*w, "btn_Program")->isEnabled())
            QTest::qWait(20);
        return Find<QPushButton>(*w, "btn_Program")->isEnabled();
    }
};

} // namespace

TEST(UpgradeWindow, UpgradesTheModuleWhichWritesTheImageWithoutItsSignature) {
    TFixture t({});
    EXPECT_EQ(Find<QComboBox>(*t.w, "cbbSvrIP")->currentText(), QStringLiteral("10.9.0.1"));
    EXPECT_EQ(Find<QLineEdit>(*t.w, "edt_IP")->maxLength(), 15);
    EXPECT_EQ(Find<QLineEdit>(*t.w, "edt_MAC")->maxLength(), 17);
    QTest::mouseClick(Find<QPushButton>(*t.w, "btn_Program"), Qt::LeftButton);
    EXPECT_FALSE(Find<QPushButton>(*t.w, "btn_Exit")->isEnabled());
    // Neither Esc nor the window manager's close ends a run.
    QTest::keyClick(t.w.get(), Qt::Key_Escape);
    t.w->close();
    EXPECT_TRUE(t.w->isVisible());
    ASSERT_TRUE(t.WaitRunEnded(20000)) << t.Info().toStdString();
    EXPECT_EQ(t.Info(), QStringLiteral(" Upgrade successful.please restore factory default."));
    EXPECT_TRUE(Find<QPushButton>(*t.w, "btn_Exit")->isEnabled());
    QFile got(t.dir.filePath(QStringLiteral("got.bin")));
    QDeadlineTimer deadline(3000);
    while (!got.exists() && !deadline.hasExpired())
        QTest::qWait(20);
    ASSERT_TRUE(got.open(QIODevice::ReadOnly));
    EXPECT_TRUE(got.readAll() == t.image.mid(4));
    QTest::mouseClick(Find<QPushButton>(*t.w, "btn_Exit"), Qt::LeftButton);
    EXPECT_FALSE(t.w->isVisible());
}

TEST(UpgradeWindow, ModuleThatStopsAnsweringEndsWithTheTimeOutAndBothButtonsEnabled) {
    TFixture t({QStringLiteral("--upgrade-stop-after"), QStringLiteral("20")});
    QTest::mouseClick(Find<QPushButton>(*t.w, "btn_Program"), Qt::LeftButton);
    ASSERT_TRUE(t.WaitRunEnded(30000));
    EXPECT_EQ(t.Info(), QStringLiteral(" Upgrade time out!"));
    EXPECT_TRUE(Find<QPushButton>(*t.w, "btn_Exit")->isEnabled());
    EXPECT_EQ(Find<QProgressBar>(*t.w, "pb1")->value(), 0);
    // Idle again: the window resizes, Esc leaves as Exit does, and the next window comes back at
    // the size this one was left.
    t.w->resize(t.w->width() + 60, t.w->height() + 40);
    const QSize left = t.w->size();
    QTest::keyClick(t.w.get(), Qt::Key_Escape);
    EXPECT_FALSE(t.w->isVisible());
    TUpgradeWindowOptions o;
    o.Prompts = &t.prompts;
    o.LocalAddresses = [] { return std::vector<std::string>{"10.9.0.1"}; };
    const Tfrm_Upgrade again(t.context, o);
    EXPECT_EQ(again.size(), left);
}

TEST(UpgradeWindow, APortInUseIsNamedWithWhatToDo) {
    TFixture t({}, 100);
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(69);
    sa.sin_addr.s_addr = inet_addr("10.9.0.1");
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    QTest::mouseClick(Find<QPushButton>(*t.w, "btn_Program"), Qt::LeftButton);
    ::close(fd);
    EXPECT_TRUE(t.Info().startsWith(QStringLiteral(" Upgrade failed! Port 69 is in use")))
        << t.Info().toStdString();
    EXPECT_TRUE(Find<QPushButton>(*t.w, "btn_Program")->isEnabled());
    EXPECT_TRUE(Find<QPushButton>(*t.w, "btn_Exit")->isEnabled());
    // The failure stays: no time-out replaces it after the 10 s search budget.
    EXPECT_FALSE(t.w->Runner().TimerActive());
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
