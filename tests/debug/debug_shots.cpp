// Writes screenshots of the debugging window (English and Chinese: idle, and with a UDP role
// open, rows filled and a few received lines) to the directory given as the first argument.
// Not a test: a tool for looking at the layout. Binds only to 127.0.0.1.
#include "../dark_palette.h"
#include "debug/recv_model.h"
#include "debug_harness.h"

#include <QDir>

using namespace varnix;
using namespace varnix::test;

namespace {

void Shoot(QWidget* w, const QString& path) {
    QApplication::processEvents();
    w->grab().save(path);
}

void Run(bool chinese, const QString& dir) {
    const QString lang = chinese ? QStringLiteral("cn") : QStringLiteral("en");
    TDebugHarness h(chinese);
    h.Open({0, QStringLiteral("127.0.0.1"), QStringLiteral("4001"), QStringLiteral("0")});
    h.Win->resize(560, 700);
    Shoot(h.Win.get(), dir + QStringLiteral("/debug-idle-") + lang + QStringLiteral(".png"));
    h.Win->CmdRow(0)->SetRow(
        {true, QStringLiteral("Read version"), QStringLiteral("AT+VER\r\n"), false, QStringLiteral("100")});
    h.Win->CmdRow(1)->SetRow({true, QStringLiteral("Modbus 01 03"), QStringLiteral("01 03 00 00 00 02 C4 0B"),
                              true, QStringLiteral("200")});
    h.Win->CmdRow(2)->SetRow({false, QStringLiteral("读版本"), QStringLiteral("hello"), false, QString()});
    h.Button("btnConnet")->click();
    for (int i = 0; i < 5; ++i)
        h.Win->Received().Queue(
            {QTime(10, 20, 30 + i), QStringLiteral("10.77.0.50:4001"), QByteArray("OK ver 4017\r\n")});
    h.Win->Received().Queue(
        {QTime(10, 20, 40), QStringLiteral("10.77.0.50:4001"), QByteArray::fromHex("010304000A0014")});
    h.Win->Received().Flush();
    Shoot(h.Win.get(), dir + QStringLiteral("/debug-udp-") + lang + QStringLiteral(".png"));
    h.Win->close();
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    test::UseDarkPaletteIfAsked();
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    Run(false, dir);
    Run(true, dir);
    return 0;
}
