// The Z2 page's button hands the module's work mode, remote IP and ports to the debugging
// window's opener, and stays disabled while no opener is set.
#include "window_harness.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace varnix;
using namespace varnix::test;

TEST(DataDebugOpener, Z2PageValuesReachTheOpener) {
    TWindowHarness h;
    auto* button = h.Find<QPushButton>("btnDataDebug");
    ASSERT_NE(button, nullptr);
    EXPECT_FALSE(button->isEnabled());
    struct {
        int mode = -2;
        QString ip, local, remote;
    } got;
    h.Win().SetDataDebugOpener([&](int mode, const QString& ip, const QString& local, const QString& remote) {
        got = {mode, ip, local, remote};
    });
    h.Find<QComboBox>("cbb_WorkMode0")->setCurrentIndex(3);
    h.Find<QLineEdit>("edt_RemoteIP0")->setText(QStringLiteral("10.77.0.9"));
    h.Find<QLineEdit>("edt_LocalPort0")->setText(QStringLiteral("4001"));
    h.Find<QLineEdit>("edt_RemotePort0")->setText(QStringLiteral("5555"));
    ASSERT_TRUE(button->isEnabled());
    button->click();
    EXPECT_EQ(got.mode, 3);
    EXPECT_EQ(got.ip, QStringLiteral("10.77.0.9"));
    EXPECT_EQ(got.local, QStringLiteral("4001"));
    EXPECT_EQ(got.remote, QStringLiteral("5555"));
}
