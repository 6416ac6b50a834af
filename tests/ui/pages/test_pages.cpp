// The parameter pages driven through their controls, found by name, with a fake host.

#include "fake_host.h"
#include "page_modules.h"

#include "core/blocks.h"
#include "core/convert.h"
#include "ui/common/colours.h"
#include "ui/main/pages/z1_page.h"
#include "ui/main/pages/z2_page.h"
#include "ui/main/pages/z3_page.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace varnix;
using namespace varnix::pagetest;

namespace {

template <class T = QWidget> T* Find(QWidget* page, const char* name) {
    T* w = page->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

QColor LabelColour(QWidget* page, const char* name) {
    return Find<QLabel>(page, name)->palette().color(QPalette::WindowText);
}

// Chooses an item the way a user does, so the drop-down's activation runs.
void Choose(QComboBox* combo, int index) {
    combo->setFocus();
    combo->setCurrentIndex(index - 1 >= 0 ? index - 1 : 0);
    if (index == 0) {
        QTest::keyClick(combo, Qt::Key_Up);
    } else {
        QTest::keyClick(combo, Qt::Key_Down);
    }
}

void Type(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    QTest::keyClicks(edit, text);
}

class PagesTest : public ::testing::Test {
protected:
    void SetUp() override { SetChinese(false); }
    TFakeHost host;
};

} // namespace

// --- Shared rules ---

TEST_F(PagesTest, ShownRateTakesTheCustomSlotOnlyWhenNoItemMatches) {
    TZ1Page page(host);
    auto* baud = Find<QComboBox>(&page, "cbb_BaudRate");
    TZ1Params p;
    p.BaudRate = 76800;
    p.ModuleIP = "10.0.0.2";
    page.ShowZ1(p);
    EXPECT_EQ(baud->currentIndex(), 0);
    EXPECT_EQ(baud->currentText(), QStringLiteral("76800"));
    p.BaudRate = 9600;
    page.ShowZ1(p);
    EXPECT_EQ(baud->currentText(), QStringLiteral("9600"));
    EXPECT_NE(baud->currentIndex(), 0);
    EXPECT_EQ(baud->itemText(0), QStringLiteral("76800"));
}

TEST_F(PagesTest, CustomBaudEntryAsksAndFallsBackTo9600) {
    TZ2Page page(host);
    auto* baud = Find<QComboBox>(&page, "cbb_BaudRate0");
    host.Scripted.NextInput(QStringLiteral("250000"));
    Choose(baud, 1);
    ASSERT_EQ(host.Scripted.Shown().size(), 1u);
    EXPECT_EQ(host.Scripted.Shown()[0].title, QStringLiteral("Diy Baud Rate"));
    EXPECT_EQ(host.Scripted.Shown()[0].extra, QStringLiteral("115200")); // item 0 is the default
    EXPECT_EQ(baud->currentIndex(), 0);
    EXPECT_EQ(baud->currentText(), QStringLiteral("250000"));

    host.Scripted.NextInput(QStringLiteral("fast"));
    Choose(baud, 1);
    EXPECT_EQ(baud->currentText(), QStringLiteral("9600"));
    EXPECT_EQ(baud->itemText(0), QStringLiteral("250000"));

    // Cancelling answers with the default, the custom slot.
    host.Scripted.NextInput(std::nullopt);
    Choose(baud, 1);
    EXPECT_EQ(baud->currentIndex(), 0);
}

TEST_F(PagesTest, NumericKeyFilterLetsDigitsBackspacePasteAndCutThrough) {
    TZ2Page page(host);
    auto* port = Find<QLineEdit>(&page, "edt_LocalPort0");
    port->clear();
    Type(port, QStringLiteral("1a2 b"));
    EXPECT_EQ(port->text(), QStringLiteral("12"));
    QTest::keyClick(port, Qt::Key_Backspace);
    EXPECT_EQ(port->text(), QStringLiteral("1"));

    QGuiApplication::clipboard()->setText(QStringLiteral("77"));
    port->selectAll();
    QTest::keyClick(port, Qt::Key_C, Qt::ControlModifier); // swallowed: nothing copied
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("77"));
    port->setCursorPosition(1);
    QTest::keyClick(port, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(port->text(), QStringLiteral("177"));
    port->selectAll();
    QTest::keyClick(port, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(port->text(), QString());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("177"));
}

TEST_F(PagesTest, PortEditsClearWhatIsNoPort) {
    TZ2Page page(host);
    auto* port = Find<QLineEdit>(&page, "edt_RemotePort0");
    port->clear();
    Type(port, QStringLiteral("0"));
    EXPECT_EQ(port->text(), QString());
    Type(port, QStringLiteral("655359")); // the sixth digit does not fit
    EXPECT_EQ(port->text(), QStringLiteral("65535"));
    port->clear();
    Type(port, QStringLiteral("65536"));
    EXPECT_EQ(port->text(), QString());
}

TEST_F(PagesTest, ModbusEditsCheckWhileTyping) {
    TZ2Page page(host);
    auto* wait = Find<QLineEdit>(&page, "edtwaittime");
    Type(wait, QStringLiteral("5"));
    EXPECT_EQ(wait->text(), QStringLiteral("5"));
    wait->clear();
    Type(wait, QStringLiteral("5000"));
    EXPECT_EQ(wait->text(), QStringLiteral("5000"));
    Type(wait, QStringLiteral("0"));
    EXPECT_EQ(wait->text(), QString());
    Type(wait, QStringLiteral("05"));
    EXPECT_EQ(wait->text(), QString());
    auto* poll = Find<QLineEdit>(&page, "edtPollInternal");
    Type(poll, QStringLiteral("0"));
    EXPECT_EQ(poll->text(), QStringLiteral("0"));
    poll->clear();
    Type(poll, QStringLiteral("10000"));
    EXPECT_EQ(poll->text(), QString());
}

// --- Z1 ---

TEST_F(PagesTest, Z1WorkModeDisablesTheDestination) {
    TZ1Page page(host);
    auto* mode = Find<QComboBox>(&page, "cbb_ModuleWork");
    for (int m : {2, 3}) {
        Choose(mode, m);
        EXPECT_FALSE(Find(&page, "edt_DeIP")->isEnabled());
        EXPECT_FALSE(Find(&page, "edt_DePort")->isEnabled());
        EXPECT_EQ(LabelColour(&page, "lbl_DeIP"), kColourSilver);
    }
    Choose(mode, 1);
    EXPECT_TRUE(Find(&page, "edt_DeIP")->isEnabled());
    EXPECT_TRUE(Find(&page, "edt_DePort")->isEnabled());
    EXPECT_EQ(LabelColour(&page, "lbl_DePort"), WindowTextColour());
}

TEST_F(PagesTest, Z1FrameFromThePageOrARefusalNamingTheField) {
    TZ1Page page(host);
    page.ApplyTexts();
    Find<QLineEdit>(&page, "edt_ID")->clear();
    auto frame = page.BuildZ1SerialFrameFromPage();
    ASSERT_TRUE(frame);
    EXPECT_EQ((*frame)[0], 0x55);
    EXPECT_EQ((*frame)[1], 0xBA);
    EXPECT_EQ((*frame)[2 + 21], 0);
    EXPECT_EQ((*frame)[2 + 22], 0);
    EXPECT_EQ(Find<QLineEdit>(&page, "edt_ID")->text(), QStringLiteral("0"));
    const auto body = std::span<const std::uint8_t, Z1BodySize>(frame->data() + 2, Z1BodySize);
    EXPECT_EQ(DecodeZ1Body(body).ModuleIP, "192.168.0.7");
    EXPECT_EQ(DecodeZ1Body(body).BaudRate, 115200u);
    EXPECT_TRUE(host.Scripted.Messages().empty());

    Find<QLineEdit>(&page, "edt_DePort")->clear();
    EXPECT_FALSE(page.BuildZ1SerialFrameFromPage());
    ASSERT_EQ(host.Scripted.Messages().size(), 1u);
    EXPECT_TRUE(host.Scripted.Messages()[0].text.startsWith(QStringLiteral("Remote Port")))
        << host.Scripted.Messages()[0].text.toStdString();
}

namespace {
std::array<std::uint8_t, ParamReplySize> Z2Reply(const char* mac) {
    std::array<std::uint8_t, ParamReplySize> r{};
    r[3] = 0x80;
    r[4] = 0x6C;
    r[5] = 0x07; // UPnP 1900
    r[6] = 80;
    const std::uint8_t ip[4] = {50, 0, 77, 10};
    std::copy(ip, ip + 4, r.begin() + 9);
    std::copy(ip, ip + 4, r.begin() + 13);
    r[13] = 1;
    r[17] = 0;
    r[18] = 255;
    r[19] = 255;
    r[20] = 255;
    const char name[] = "Line-1";
    std::copy(name, name + 6, r.begin() + 21);
    std::copy(name, name + 5, r.begin() + 37);
    std::copy(name, name + 5, r.begin() + 43);
    MacTextToBytes(mac, std::span<std::uint8_t, 6>(r.data() + 53, 6));
    r[63] = 3;
    TIdBytes port{0x00, 0xC2, 0x01, 0x00, 8, 1, 1, 2}; // flow-control code 2 has no item
    std::copy(port.begin(), port.end(), r.begin() + 67);
    r[67 + 12] = 0x2A;
    r[67 + 13] = 0x20; // 8234
    r[67 + 14] = 0x2B;
    r[67 + 15] = 0x20; // 8235
    r[67 + 50] = 0x48; // baud sync, MAC registration
    r[67 + 51] = 3;
    r[67 + 53] = 4;
    r[67 + 56] = 1; // user-defined registration as well: it wins
    r[67 + 58] = 1;
    return r;
}

// A Z2 reply as the window decodes it, with the Modbus reply of `kind` (0: none).
TModuleSettings Z2Read(const char* mac, int kind) {
    TBlockStore store;
    store.BasePort = Z2Reply(mac);
    TReceivedBlocks got;
    got.Params = true;
    got.ModbusKind = kind;
    got.Modbus = TModbusParam{1, 1, "7", 0, kind == 7 ? "20" : ""};
    return DecodeModuleSettings(FamilyZ2, 4017, store, got);
}
} // namespace

TEST_F(PagesTest, Z2AddressTypeAndWorkModeRules) {
    TZ2Page page(host);
    Choose(Find<QComboBox>(&page, "cbb_AddrType"), 0);
    for (const char* e : {"edt_StaticIP", "edt_GatewayIP", "edt_SubnetMask", "edtDns"})
        EXPECT_FALSE(Find(&page, e)->isEnabled()) << e;
    for (const char* l : {"lbl_StaticIP", "lbl_GatewayIP", "lbl_SubnetMask", "lblDns"})
        EXPECT_EQ(LabelColour(&page, l), kColourSilver) << l;

    auto* mode = Find<QComboBox>(&page, "cbb_WorkMode0");
    Choose(mode, 4);
    EXPECT_TRUE(Find(&page, "cbbGetPost")->isEnabled());
    EXPECT_TRUE(Find(&page, "btnDataDebug")->isHidden());
    EXPECT_FALSE(Find(&page, "RzGroupBoxHttpd")->isHidden());
    page.SetLanTabActive(false);
    EXPECT_TRUE(Find(&page, "RzGroupBoxHttpd")->isHidden());
    EXPECT_FALSE(Find(&page, "btn_Z2ComSet")->isHidden());
    page.SetLanTabActive(true);
    Choose(mode, 3);
    EXPECT_TRUE(Find(&page, "RzGroupBoxHttpd")->isHidden());
    EXPECT_FALSE(Find(&page, "cbbGetPost")->isEnabled());
    EXPECT_TRUE(Find(&page, "cbb_TCPSvrCount0")->isEnabled());
    EXPECT_EQ(LabelColour(&page, "lbl_RemoteIP0"), kColourSilver);
    Choose(mode, 0);
    EXPECT_FALSE(Find(&page, "cbb_ModbusTCP0")->isEnabled());
    EXPECT_FALSE(Find(&page, "btnDataDebug")->isHidden());
}

TEST_F(PagesTest, Z2ShowsARepliesValuesAndKeepsCodesItHasNoItemFor) {
    TZ2Page page(host);
    page.ApplyTexts();
    auto* flow = Find<QComboBox>(&page, "cbb_FlowControl0");
    flow->setCurrentIndex(1);
    const TModuleSettings read = Z2Read("00 1A 2B 3C 4D 5E", 0);
    page.ShowSettings(read);
    EXPECT_EQ(Find<QLineEdit>(&page, "edt_StaticIP")->text(), QStringLiteral("10.77.0.50"));
    EXPECT_EQ(Find<QLineEdit>(&page, "edt_ModName")->text(), QStringLiteral("Line-1"));
    EXPECT_EQ(Find<QLineEdit>(&page, "edt_LocalPort0")->text(), QStringLiteral("8234"));
    EXPECT_EQ(Find<QComboBox>(&page, "cbb_BaudRate0")->currentText(), QStringLiteral("115200"));
    // MAC and user-defined registration both set: the user-defined one wins.
    EXPECT_EQ(Find<QComboBox>(&page, "RzComboBox2")->currentText(), QStringLiteral("USER Register"));
    EXPECT_TRUE(Find(&page, "edtRegDt")->isVisibleTo(&page));
    EXPECT_FALSE(Find(&page, "edt_RemoteIP0")->isEnabled()); // TCP Server
    EXPECT_EQ(Find<QComboBox>(&page, "cbb_TCPSvrCount0")->currentIndex(), 3);
    // Flow-control code 2 has no item: the selection stays, and a save sends the module's code.
    EXPECT_EQ(flow->currentIndex(), 1);
    const TResult<TModuleSettings> back = page.ReadSettings(read);
    ASSERT_TRUE(back) << back.Error().Message;
    EXPECT_EQ(back->Port.FlowControl, 2);
    EXPECT_TRUE(Find(&page, "rzgrpbxModbus")->isHidden()); // no Modbus reply

    // A Z3 module's settings are not the Z2 page's to show.
    TModuleSettings z3 = Z3Module();
    page.ShowSettings(z3);
    EXPECT_EQ(Find<QLineEdit>(&page, "edt_StaticIP")->text(), QStringLiteral("10.77.0.50"));
    EXPECT_FALSE(page.ReadSettings(z3));
    EXPECT_TRUE(host.Modes.empty()); // the window sets the page mode, not the page
}

TEST_F(PagesTest, LaterRepliesOfTheReadLeaveWhatTheUserTyped) {
    TZ2Page page(host);
    TModuleSettings read = Z2Module();
    read.HasHttpd = false;
    read.ModbusKind = 0;
    page.ShowSettings(read);
    Find<QLineEdit>(&page, "edt_ModName")->setText(QStringLiteral("Typed"));
    // The HTTPD and Modbus replies arrive after the user began to type.
    read.HasHttpd = true;
    read.ModbusKind = 7;
    page.ShowSettings(read);
    EXPECT_EQ(Find<QLineEdit>(&page, "edt_ModName")->text(), QStringLiteral("Typed"));
    EXPECT_EQ(Find<QLineEdit>(&page, "LabeledEdit2")->text(), QStringLiteral("/data"));
    const TResult<TModuleSettings> r = page.ReadSettings(read);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Base.ModName, "Typed");
    // A value the module reports outside the catalogue's range goes back untouched.
    read.Port.LocalPort = 0;
    page.ShowSettings(read);
    EXPECT_EQ(page.ReadSettings(read)->Port.LocalPort, 0);
    Find<QLineEdit>(&page, "edt_LocalPort0")->setText(QString());
    EXPECT_EQ(page.ReadSettings(read).Error().Field, "LocalPort");
}

TEST_F(PagesTest, RegistrationAndHeartbeatSelectorsShowTheirFields) {
    TZ2Page page(host);
    auto shown = [&](const char* n) { return Find(&page, n)->isVisibleTo(&page); };
    Choose(Find<QComboBox>(&page, "RzComboBox2"), 2);
    for (const char* n :
         {"edtRegDt", "rzchckbxRegDtHex", "lblRegSnd", "rzchckbxRegConnTo", "rzchckbxRegDataWith"})
        EXPECT_TRUE(shown(n)) << n;
    EXPECT_FALSE(shown("edtDid"));
    Choose(Find<QComboBox>(&page, "RzComboBox2"), 3);
    for (const char* n : {"edtDid", "edtCompass", "lblDid", "lblCompass"})
        EXPECT_TRUE(shown(n)) << n;
    for (const char* n : {"edtRegDt", "lblRegSnd", "rzchckbxRegConnTo"})
        EXPECT_FALSE(shown(n)) << n;

    // A heartbeat block with flags 0x43: network heartbeat, its data shown as hex.
    TModuleSettings s = Z2Module();
    s.Heart.Flags = 0x43;
    s.Heart.Interval = 60;
    s.Heart.HeartData = {0xAB, 0x01};
    page.ShowSettings(s);
    EXPECT_EQ(Find<QComboBox>(&page, "RzComboBox1")->currentIndex(), 2);
    EXPECT_TRUE(Find<QCheckBox>(&page, "rzchckbxHeartDtHex")->isChecked());
    EXPECT_EQ(Find<QLineEdit>(&page, "edtHeartDt")->text(), QStringLiteral("AB01"));
    EXPECT_EQ(Find<QLineEdit>(&page, "edtHeartTm")->text(), QStringLiteral("60"));
    EXPECT_TRUE(shown("edtHeartTm"));
    // Serial heartbeat chosen: the network bit goes, both are never written together.
    Choose(Find<QComboBox>(&page, "RzComboBox1"), 1);
    const TResult<TModuleSettings> r = page.ReadSettings(s);
    ASSERT_TRUE(r) << r.Error().Message;
    EXPECT_EQ(r->Heart.Flags, 0x42);
    EXPECT_EQ(r->Heart.HeartData, s.Heart.HeartData);
    // Hex pairs that are no hex refuse the save naming the data.
    Find<QLineEdit>(&page, "edtHeartDt")->setText(QStringLiteral("AB0"));
    EXPECT_EQ(page.ReadSettings(s).Error().Field, "HeartbeatData");
    Choose(Find<QComboBox>(&page, "RzComboBox1"), 0);
    EXPECT_FALSE(shown("edtHeartTm"));
}

TEST_F(PagesTest, HexBoxesConvertTheirOwnEdit) {
    TZ2Page page(host);
    Choose(Find<QComboBox>(&page, "RzComboBox2"), 2);
    auto* reg = Find<QLineEdit>(&page, "edtRegDt");
    auto* heart = Find<QLineEdit>(&page, "edtHeartDt");
    reg->setText(QStringLiteral("AB"));
    heart->setText(QStringLiteral("AB"));
    auto* box = Find<QCheckBox>(&page, "rzchckbxRegDtHex");
    page.show();
    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_EQ(reg->text(), QStringLiteral("4142"));
    EXPECT_EQ(heart->text(), QStringLiteral("AB"));
    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_EQ(reg->text(), QStringLiteral("AB"));
    reg->setText(QStringLiteral("4G"));
    QTest::mouseClick(box, Qt::LeftButton);
    reg->setText(QStringLiteral("4G"));
    QTest::mouseClick(box, Qt::LeftButton); // not hex: stays
    EXPECT_EQ(reg->text(), QStringLiteral("4G"));
}

TEST_F(PagesTest, ModbusGroupFollowsTheReplyKindAndItsBoxes) {
    TZ2Page page(host);
    page.show();
    page.ShowSettings(Z2Read("00 1A 2B 3C 4D 5E", 1));
    EXPECT_FALSE(Find(&page, "rzgrpbxModbus")->isHidden());
    EXPECT_FALSE(Find(&page, "rzchckbxmodbustcp")->isHidden());
    EXPECT_TRUE(Find(&page, "rzchckbxmodbuspool")->isHidden()); // kind 1 carries no polling
    QTest::mouseClick(Find(&page, "rzchckbxmodbustcp"), Qt::LeftButton);
    EXPECT_TRUE(Find(&page, "rzchckbxmodbusAbnormalResponse")->isHidden());

    page.ClearSettings(); // the next read
    page.ShowSettings(Z2Read("00 1A 2B 3C 4D 5E", 7));
    EXPECT_FALSE(Find(&page, "rzchckbxmodbusAbnormalResponse")->isHidden());
    EXPECT_FALSE(Find(&page, "edtPollInternal")->isHidden());
    QTest::mouseClick(Find(&page, "rzchckbxmodbustcp"), Qt::LeftButton);
    EXPECT_TRUE(Find(&page, "rzchckbxmodbusAbnormalResponse")->isHidden());
    QTest::mouseClick(Find(&page, "rzchckbxmodbuspool"), Qt::LeftButton);
    EXPECT_TRUE(Find(&page, "edtwaittime")->isHidden());
    EXPECT_TRUE(Find(&page, "RzLabel5")->isHidden());
    QTest::mouseClick(Find(&page, "rzchckbxmodbuspool"), Qt::LeftButton);
    EXPECT_FALSE(Find(&page, "edtwaittime")->isHidden());

    // The module reported a poll time-out of 7: reading raises it to 10, and the page shows it.
    const TModuleSettings kind7 = Z2Read("00 1A 2B 3C 4D 5E", 7);
    page.ClearSettings();
    EXPECT_TRUE(Find(&page, "rzgrpbxModbus")->isHidden());
    page.ShowSettings(kind7);
    EXPECT_EQ(Find<QLineEdit>(&page, "edtwaittime")->text(), QStringLiteral("7"));
    const TResult<TModuleSettings> r = page.ReadSettings(kind7);
    ASSERT_TRUE(r) << r.Error().Message;
    EXPECT_EQ(r->Modbus.PollTimeout, "10");
    EXPECT_EQ(Find<QLineEdit>(&page, "edtwaittime")->text(), QStringLiteral("10"));
    EXPECT_EQ(r->Modbus.PollInterval, "20");

    // Kind 4 has no interval: it shows empty, and may be given (the save sends kind 7).
    const TModuleSettings kind4 = Z2Read("00 1A 2B 3C 4D 5E", 4);
    page.ClearSettings();
    page.ShowSettings(kind4);
    EXPECT_FALSE(Find(&page, "edtPollInternal")->isHidden());
    EXPECT_EQ(Find<QLineEdit>(&page, "edtPollInternal")->text(), QString());
    EXPECT_EQ(page.ReadSettings(kind4)->Modbus.PollInterval, "");
    Find<QLineEdit>(&page, "edtPollInternal")->setText(QStringLiteral("50"));
    EXPECT_EQ(page.ReadSettings(kind4)->Modbus.PollInterval, "50");
}

TEST_F(PagesTest, HttpdHeaderGoesBackByteForByteUntilEdited) {
    TZ2Page page(host);
    // A header read from a module goes back byte for byte, whatever its line breaks ...
    for (const std::string header :
         {"Content-Type: text/plain\r\nX-Id: 7\r\n", "A: 1\nB: 2", "C: 3\r\n\r\nD"}) {
        TModuleSettings s = Z2Module();
        s.HttpdHeader = header;
        page.ClearSettings();
        page.ShowSettings(s);
        EXPECT_EQ(page.ReadSettings(s)->HttpdHeader, header);
    }
    // ... and one typed with Enter is sent with CR LF.
    const TModuleSettings s = Z2Module();
    page.ShowSettings(s);
    auto* edit = Find<QPlainTextEdit>(&page, "RzRichEdit1");
    edit->clear();
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("X-A: 1"));
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClicks(edit, QStringLiteral("X-B: 2"));
    EXPECT_EQ(page.ReadSettings(s)->HttpdHeader, "X-A: 1\r\nX-B: 2");
    // Another reply block arriving meanwhile does not undo the edit.
    TModuleSettings later = s;
    later.Modbus.ModbusTCPEnable = 1;
    page.ShowSettings(later);
    EXPECT_EQ(page.ReadSettings(later)->HttpdHeader, "X-A: 1\r\nX-B: 2");
}

TEST_F(PagesTest, Z2TextFieldsLeaveTheTerminatingZeroAndBadFieldsNameTheirLabel) {
    TZ2Page page(host);
    page.ApplyTexts();
    // The 6-byte log-in fields and the 16-byte name always end in 0x00.
    for (const auto& [edit, room] :
         {std::pair{"edt_username", 5}, {"edt_password", 5}, {"edt_ModName", 14}}) {
        auto* e = Find<QLineEdit>(&page, edit);
        e->clear();
        Type(e, QString(20, u'x'));
        EXPECT_EQ(e->text().size(), room) << edit;
    }
    // A field that does not read is refused with its label and the refused text.
    const TModuleSettings s = Z2Module();
    page.ShowSettings(s);
    const std::pair<const char*, const char*> bad[] = {
        {"edt_LocalPort0", "Local Port"}, {"edtHeartTm", "Heartbeat Time(s)"}, {"edt_GatewayIP", "Gateway"}};
    for (const auto& [control, label] : bad) {
        auto* e = Find<QLineEdit>(&page, control);
        const QString keep = e->text();
        e->setText(QStringLiteral("10.x"));
        const TResult<TModuleSettings> r = page.ReadSettings(s);
        ASSERT_FALSE(r) << control;
        host.Scripted.Clear();
        page.ShowFieldError(r.Error());
        ASSERT_EQ(host.Scripted.Messages().size(), 1u) << control;
        EXPECT_EQ(host.Scripted.Messages()[0].text,
                  QString::fromLatin1(label) + QStringLiteral(": \"10.x\""));
        e->setText(keep);
    }
}

TEST_F(PagesTest, SaveButtonsAskTheWindowAndWaitWhileASaveRuns) {
    TZ2Page z2(host);
    TZ3Page z3(host);
    TZ1Page z1(host);
    QSignalSpy z2Net(&z2, &TZ2Page::NetSaveRequested);
    QSignalSpy z2Serial(&z2, &TZ2Page::SerialSaveRequested);
    QSignalSpy z3Net(&z3, &TZ3Page::NetSaveRequested);
    QSignalSpy z1Net(&z1, &TZ1Page::NetSaveRequested);
    QSignalSpy z1Serial(&z1, &TZ1Page::SerialSaveRequested);
    z2.ShowSettings(Z2Module());
    z3.ShowSettings(Z3Module());
    for (const char* b : {"btn_Z2NetSet", "btn_Z2ComSet"})
        Find<QPushButton>(&z2, b)->click();
    Find<QPushButton>(&z3, "btn_Z3NetSet")->click();
    for (const char* b : {"btn_Z1Set", "btn_ComSet"})
        Find<QPushButton>(&z1, b)->click();
    EXPECT_EQ(z2Net.count() + z2Serial.count() + z3Net.count() + z1Net.count() + z1Serial.count(), 5);
    // Read-only while a save runs: nothing can be typed, nothing saved twice.
    z2.SetEditable(false);
    z3.SetEditable(false);
    Find<QPushButton>(&z2, "btn_Z2NetSet")->click();
    Find<QPushButton>(&z3, "btn_Z3NetSet")->click();
    EXPECT_EQ(z2Net.count() + z3Net.count(), 2);
    EXPECT_FALSE(Find(&z2, "edt_StaticIP")->isEnabled());
    EXPECT_FALSE(Find(&z3, "edt_StaticIPZ3")->isEnabled());
    z2.SetEditable(true);
    EXPECT_TRUE(Find(&z2, "edt_StaticIP")->isEnabled());
    EXPECT_EQ(z2.FieldText(QStringLiteral("StaticIP")), QStringLiteral("10.77.0.50"));
}

// --- Z3 ---

TEST_F(PagesTest, Z3PageShowsTheReadModuleAndSavesItsOwnBytes) {
    // A Z3 parameter reply: port bytes 52-55 hold the packing length, byte 58 the connection count
    // (high nibble) and style (low nibble); base byte 52 the device-ID type.
    TBlockStore store;
    const TModuleSettings z3 = Z3Module();
    EncodeBaseBlock(FamilyZ3, z3.Base, store.Base(), store.KeptStatus);
    EncodePortBlock(FamilyZ3, z3.Port, store.Port(), store.KeptSocketFlags);
    store.Base()[52] = 2;
    store.Port()[52] = 0x2C; // 300
    store.Port()[53] = 0x01;
    store.Port()[58] = 0x52; // 5 connections, by ID / drop
    store.Base()[63] = 0x77; // the short-connection time, which a Z3 save carries
    TReceivedBlocks got;
    got.Params = true;
    const TModuleSettings read = DecodeModuleSettings(FamilyZ3, 4017, store, got);
    TZ3Page page(host);
    page.ApplyTexts();
    page.ShowSettings(read);
    EXPECT_EQ(Find<QLineEdit>(&page, "edt_StaticIPZ3")->text(), QStringLiteral("192.168.0.60"));
    EXPECT_EQ(Find<QLineEdit>(&page, "edt_ModNameZ3")->text(), QStringLiteral("Z3-1"));
    EXPECT_EQ(Find<QLineEdit>(&page, "edt_IdTypeZ3")->text(), QStringLiteral("2"));
    EXPECT_EQ(Find<QLineEdit>(&page, "edt_UARTLength0Z3")->text(), QStringLiteral("300"));
    EXPECT_EQ(Find<QComboBox>(&page, "cbb_TCPSvrCount0Z3")->currentIndex(), 4);
    EXPECT_EQ(Find<QComboBox>(&page, "cbb_TCPStyle0Z3")->currentIndex(), 1);
    EXPECT_EQ(Find<QComboBox>(&page, "cbb_BaudRate0Z3")->currentText(), QStringLiteral("9600"));
    EXPECT_EQ(Find<QComboBox>(&page, "cbb_WorkMode0Z3")->currentIndex(), 1);

    // DHCP and another remote port; the save carries every other byte as the module sent it.
    Choose(Find<QComboBox>(&page, "cbb_AddrTypeZ3"), 0);
    for (const char* e : {"edt_StaticIPZ3", "edt_GatewayIPZ3", "edt_SubnetMaskZ3"})
        EXPECT_FALSE(Find(&page, e)->isEnabled()) << e;
    Find<QLineEdit>(&page, "edt_RemotePort0Z3")->setText(QStringLiteral("9100"));
    const TResult<TModuleSettings> wanted = page.ReadSettings(read);
    ASSERT_TRUE(wanted) << wanted.Error().Message;
    TBlockStore planned = store;
    const TSavePlan plan = PlanZ3Save(MakeZ3SaveInput(*wanted), planned);
    ASSERT_TRUE(plan.Ok) << plan.Error.Message;
    ASSERT_EQ(plan.Steps.size(), 3u);
    EXPECT_EQ(plan.Steps[0].Payload[3], 0x00); // DHCP: the whole status byte
    EXPECT_EQ(plan.Steps[0].Payload[52], 2);
    EXPECT_EQ(plan.Steps[0].Payload[63], 0x77);
    TIdBytes port(store.Port().begin(), store.Port().end());
    port[14] = 9100 & 0xFF;
    port[15] = 9100 >> 8;
    EXPECT_EQ(plan.Steps[1].Payload, port);

    // An ID type outside 0..3 is refused rather than cut to its low two bits.
    Find<QLineEdit>(&page, "edt_IdTypeZ3")->setText(QStringLiteral("5"));
    EXPECT_EQ(page.ReadSettings(read).Error().Field, "IdType");
}

TEST_F(PagesTest, TextsOfBothLanguagesAndTheStarMark) {
    TZ2Page z2(host);
    TZ3Page z3(host);
    TZ1Page z1(host);
    for (bool chinese : {true, false}) {
        SetChinese(chinese);
        z1.ApplyTexts();
        z2.ApplyTexts();
        z3.ApplyTexts();
        for (QWidget* page : {static_cast<QWidget*>(&z2), static_cast<QWidget*>(&z3)})
            for (QLabel* label : page->findChildren<QLabel*>()) {
                const QString name = label->objectName();
                if (name.contains(QStringLiteral("AddrType")) ||
                    name.contains(QStringLiteral("SubnetMask"))) {
                    EXPECT_TRUE(label->text().endsWith(QStringLiteral(" ★"))) << name.toStdString();
                }
            }
        EXPECT_FALSE(Find<QLabel>(&z1, "lbl_Mask")->text().contains(QStringLiteral("★")));
        EXPECT_EQ(Find<QPushButton>(&z2, "btn_Z2NetSet")->text(),
                  chinese ? QStringLiteral("保存参数") : QStringLiteral("Save Config"));
    }
    Find<QComboBox>(&z2, "RzComboBox2")->setCurrentIndex(2);
    SetChinese(true);
    z2.ApplyTexts();
    EXPECT_EQ(Find<QComboBox>(&z2, "RzComboBox2")->currentIndex(), 2);
    EXPECT_EQ(Find<QComboBox>(&z2, "RzComboBox2")->currentText(), QStringLiteral("自定义注册包"));
}

int main(int argc, char** argv) {
    App();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
