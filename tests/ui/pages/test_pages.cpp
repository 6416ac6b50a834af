// The parameter pages driven through their controls, found by name, with a fake host.

#include "fake_host.h"

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

TDeviceRef Row(const char* mac, std::int32_t family, int firmware) {
    return TDeviceRef{0, QString::fromLatin1(mac), family, firmware};
}

} // namespace

// --- Shared rules ---

TEST_F(PagesTest, ShownRateTakesTheCustomSlotOnlyWhenNoItemMatches) {
    TZ1Page page(host);
    auto* baud = Find<QComboBox>(&page, "cbb_BaudRate");
    TZ1Params p;
    p.BaudRate = 76800;
    p.ModuleIP = "10.0.0.2";
    page.ShowZ1Params(p);
    EXPECT_EQ(baud->currentIndex(), 0);
    EXPECT_EQ(baud->currentText(), QStringLiteral("76800"));
    p.BaudRate = 9600;
    page.ShowZ1Params(p);
    EXPECT_EQ(baud->currentText(), QStringLiteral("9600"));
    EXPECT_NE(baud->currentIndex(), 0);
    EXPECT_EQ(baud->itemText(0), QStringLiteral("76800"));
    ASSERT_FALSE(host.Log.empty());
    EXPECT_EQ(host.Log.back().first, QStringLiteral("Read OK "));
    EXPECT_EQ(host.Log.back().second, kColourGreen);
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

// --- Z2 ---

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
} // namespace

TEST_F(PagesTest, Z2ReplyIsShownOnlyForTheSelectedMac) {
    TZ2Page page(host);
    page.ApplyTexts();
    const auto reply = Z2Reply("00 1A 2B 3C 4D 5E");
    const auto [base, ports] = DecodeParamReply(reply);
    const TZ2Form untouched = page.ReadForm();

    page.ShowZ2Params(base, ports, FamilyZ2, false); // no row selected
    host.Selected = Row("00 1A 2B 3C 4D 5F", FamilyZ2, 4017);
    page.ShowZ2Params(base, ports, FamilyZ2, false); // another module's reply
    EXPECT_EQ(page.ReadForm(), untouched);
    EXPECT_TRUE(host.Log.empty());
    EXPECT_TRUE(host.Modes.empty());

    host.Selected = Row("00 1a 2b 3c 4d 5e", FamilyZ3, 4017);
    page.ShowZ2Params(base, ports, FamilyZ3, false); // a Z3 module's reply: logged, not shown
    EXPECT_EQ(page.ReadForm(), untouched);
    ASSERT_EQ(host.Log.size(), 1u);
    EXPECT_EQ(host.Log[0].first, QStringLiteral("Read OK "));
    EXPECT_TRUE(host.Modes.empty());

    Find<QComboBox>(&page, "cbb_FlowControl0")->setCurrentIndex(1);
    page.ShowZ2Params(base, ports, FamilyZ2, false);
    EXPECT_EQ(host.Modes, std::vector<int>{2});
    EXPECT_EQ(Find<QLineEdit>(&page, "edt_StaticIP")->text(), QStringLiteral("10.77.0.50"));
    EXPECT_EQ(Find<QLineEdit>(&page, "edt_ModName")->text(), QStringLiteral("Line-1"));
    EXPECT_EQ(Find<QLineEdit>(&page, "edt_LocalPort0")->text(), QStringLiteral("8234"));
    EXPECT_EQ(Find<QComboBox>(&page, "cbb_BaudRate0")->currentText(), QStringLiteral("115200"));
    EXPECT_EQ(Find<QComboBox>(&page, "cbb_FlowControl0")->currentIndex(), 1);
    EXPECT_EQ(Find<QComboBox>(&page, "RzComboBox2")->currentText(), QStringLiteral("USER Register"));
    EXPECT_TRUE(Find(&page, "edtRegDt")->isVisibleTo(&page));
    EXPECT_FALSE(Find(&page, "edt_RemoteIP0")->isEnabled()); // TCP Server
    EXPECT_EQ(Find<QComboBox>(&page, "cbb_TCPSvrCount0")->currentIndex(), 3);
}

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

    std::array<std::uint8_t, HeartBlockSize> heart{};
    heart[0] = 0x43;
    heart[1] = 60;
    heart[3] = 2;
    heart[5] = 0xAB;
    heart[6] = 0x01;
    page.ShowHeartParams(heart, FamilyZ3); // another family: ignored
    EXPECT_EQ(Find<QComboBox>(&page, "RzComboBox1")->currentIndex(), 0);
    EXPECT_FALSE(shown("edtHeartTm"));
    page.ShowHeartParams(heart, FamilyZ2);
    EXPECT_EQ(Find<QComboBox>(&page, "RzComboBox1")->currentIndex(), 2);
    EXPECT_TRUE(Find<QCheckBox>(&page, "rzchckbxHeartDtHex")->isChecked());
    EXPECT_EQ(Find<QLineEdit>(&page, "edtHeartDt")->text(), QStringLiteral("AB01"));
    EXPECT_EQ(Find<QLineEdit>(&page, "edtHeartTm")->text(), QStringLiteral("60"));
    EXPECT_TRUE(shown("edtHeartTm"));
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

TEST_F(PagesTest, ModbusBoxesShowTheirControlsAndKind7RaisesTheTimeOut) {
    TZ2Page page(host);
    page.ShowModbusParams(TModbusParam{1, 1, "7", 0, "20"}, 7);
    EXPECT_FALSE(Find(&page, "rzgrpbxModbus")->isHidden());
    EXPECT_FALSE(Find(&page, "rzchckbxmodbusAbnormalResponse")->isHidden());
    EXPECT_FALSE(Find(&page, "edtPollInternal")->isHidden());
    page.show();
    QTest::mouseClick(Find(&page, "rzchckbxmodbustcp"), Qt::LeftButton);
    EXPECT_TRUE(Find(&page, "rzchckbxmodbusAbnormalResponse")->isHidden());
    QTest::mouseClick(Find(&page, "rzchckbxmodbuspool"), Qt::LeftButton);
    EXPECT_TRUE(Find(&page, "edtwaittime")->isHidden());
    EXPECT_TRUE(Find(&page, "RzLabel5")->isHidden());
    QTest::mouseClick(Find(&page, "rzchckbxmodbuspool"), Qt::LeftButton);
    EXPECT_FALSE(Find(&page, "edtwaittime")->isHidden());

    // Save with the poll time-out at 7: the edit and the block both say 10.
    page.ShowZ2Params(DecodeParamReply(Z2Reply("00 1A 2B 3C 4D 5E")).first,
                      DecodeParamReply(Z2Reply("00 1A 2B 3C 4D 5E")).second, FamilyZ2, true);
    host.Selected = Row("00 1A 2B 3C 4D 5E", FamilyZ2, 4016);
    QTest::mouseClick(Find(&page, "btn_Z2NetSet"), Qt::LeftButton);
    ASSERT_EQ(host.Plans.size(), 1u);
    EXPECT_EQ(Find<QLineEdit>(&page, "edtwaittime")->text(), QStringLiteral("10"));
    const TSaveStep& modbus = host.Plans[0].Steps.at(host.Plans[0].Steps.size() - 2);
    EXPECT_EQ(modbus.Code, 0x24);
    ASSERT_EQ(modbus.Payload.size(), 7u);
    EXPECT_EQ(modbus.Payload[2], 0x00);
    EXPECT_EQ(modbus.Payload[3], 0x0A);
    EXPECT_EQ(modbus.Payload[6], 20);
}

TEST_F(PagesTest, Z2TextFieldsLeaveTheTerminatingZeroAndTheHttpdHeaderKeepsItsLineBreaks) {
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

    // A header read from a module goes back byte for byte, whatever its line breaks ...
    for (const std::string header :
         {"Content-Type: text/plain\r\nX-Id: 7\r\n", "A: 1\nB: 2", "C: 3\r\n\r\nD"}) {
        page.ShowHttpdParams("/data", header);
        EXPECT_EQ(page.BuildHttpdBlocksFromPage().second, header);
    }
    // ... and one typed with Enter is sent with CR LF.
    auto* edit = Find<QPlainTextEdit>(&page, "RzRichEdit1");
    edit->clear();
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("X-A: 1"));
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClicks(edit, QStringLiteral("X-B: 2"));
    EXPECT_EQ(page.BuildHttpdBlocksFromPage().second, "X-A: 1\r\nX-B: 2");
    // Another reply block arriving meanwhile does not undo the edit.
    page.ShowModbusParams(TModbusParam{}, 1);
    EXPECT_EQ(page.BuildHttpdBlocksFromPage().second, "X-A: 1\r\nX-B: 2");
}

TEST_F(PagesTest, Z2SaveSendsTheBlocksItsConditionsCallFor) {
    TZ2Page page(host);
    page.ApplyTexts();
    QTest::mouseClick(Find(&page, "btn_Z2NetSet"), Qt::LeftButton);
    EXPECT_EQ(host.NoTargets, 1);
    const auto [base, ports] = DecodeParamReply(Z2Reply("00 1A 2B 3C 4D 5E"));
    page.ShowZ2Params(base, ports, FamilyZ2, true);
    Find<QLineEdit>(&page, "edtHeartTm")->setText(QStringLiteral("30"));
    Choose(Find<QComboBox>(&page, "cbb_WorkMode0"), 4);
    Choose(Find<QComboBox>(&page, "RzComboBox2"), 3);

    auto codes = [&] {
        std::vector<int> c;
        for (const auto& s : host.Plans.back().Steps)
            c.push_back(s.Code);
        return c;
    };
    host.Selected = Row("00 1A 2B 3C 4D 5E", FamilyZ3, 4017);
    page.btn_Z2NetSetClick(); // a Z3 row: the Z2 save sends nothing
    EXPECT_TRUE(host.Plans.empty());
    host.Selected->Family = FamilyZ2;
    host.Selected->Firmware = 4016;
    page.btn_Z2NetSetClick();
    EXPECT_EQ(codes(), (std::vector<int>{0x05, 0x06, 0x0C, 0x02}));
    host.Selected->Firmware = 4017;
    page.btn_Z2NetSetClick();
    EXPECT_EQ(codes(), (std::vector<int>{0x05, 0x06, 0x0C, 0x21, 0x22, 0x23, 0x02}));

    // A field that does not convert refuses the save with its label; nothing is planned.
    for (const char* edit : {"edt_LocalPort0", "edtHeartTm"}) {
        const std::size_t plans = host.Plans.size();
        host.Scripted.Clear();
        auto* e = Find<QLineEdit>(&page, edit);
        const QString keep = e->text();
        e->clear();
        page.btn_Z2NetSetClick();
        EXPECT_EQ(host.Plans.size(), plans) << edit;
        ASSERT_EQ(host.Scripted.Messages().size(), 1u) << edit;
        const QString label =
            QString::fromLatin1(std::string(edit) == "edtHeartTm" ? "Heartbeat Time(s)" : "Local Port");
        EXPECT_TRUE(host.Scripted.Messages()[0].text.startsWith(label))
            << host.Scripted.Messages()[0].text.toStdString();
        e->setText(keep);
    }
    const std::array<std::uint8_t, ParamReplySize> storeBefore = host.BlockStore.BasePort;
    Find<QLineEdit>(&page, "edt_GatewayIP")->setText(QStringLiteral("10.x.0.1"));
    page.btn_Z2NetSetClick();
    EXPECT_EQ(host.BlockStore.BasePort, storeBefore);
    EXPECT_TRUE(host.Scripted.Messages().back().text.startsWith(QStringLiteral("Gateway")));
}

// --- Z3 ---

TEST_F(PagesTest, Z3SaveWithInitialSelectionsAndDhcp) {
    TZ2Page z2(host);
    TZ3Page page(host);
    page.ApplyTexts();
    host.Selected = Row("00 1A 2B 3C 4D 60", FamilyZ3, 4017);
    QTest::mouseClick(Find(&page, "btn_Z3NetSet"), Qt::LeftButton);
    EXPECT_TRUE(host.Plans.empty());
    ASSERT_EQ(host.Scripted.Messages().size(), 1u);
    EXPECT_TRUE(host.Scripted.Messages()[0].text.startsWith(QStringLiteral("UPNP Port")));

    Find<QLineEdit>(&page, "edt_LocationURLPortZ3")->setText(QStringLiteral("0"));
    Find<QLineEdit>(&page, "edt_HTTPServerPortZ3")->setText(QStringLiteral("80"));
    Find<QLineEdit>(&page, "edt_IdTypeZ3")->setText(QStringLiteral("0"));
    Find<QLineEdit>(&page, "edt_UserMACZ3")->setText(QStringLiteral("00 1A 2B 3C 4D 60"));
    Find<QLineEdit>(&page, "edt_usernameZ3")->setText(QStringLiteral("admin"));
    Choose(Find<QComboBox>(&page, "cbb_AddrTypeZ3"), 0);
    for (const char* e : {"edt_StaticIPZ3", "edt_GatewayIPZ3", "edt_SubnetMaskZ3"})
        EXPECT_FALSE(Find(&page, e)->isEnabled()) << e;
    EXPECT_TRUE(Find(&z2, "edt_StaticIP")->isEnabled()); // the Z2 page's own rule is untouched
    host.BlockStore.BasePort[3] = 0x37;                  // whatever a module reported before
    QTest::mouseClick(Find(&page, "btn_Z3NetSet"), Qt::LeftButton);
    ASSERT_EQ(host.Plans.size(), 1u);
    const auto& steps = host.Plans[0].Steps;
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(steps[2].Code, 0x04);
    EXPECT_EQ(steps[0].Payload[3], 0x00);      // DHCP: the whole status byte
    EXPECT_EQ(steps[0].Payload[37 + 5], 0x00); // five-character user name and one 0x00
    EXPECT_EQ(steps[0].Payload[37 + 4], 'n');
    EXPECT_EQ(steps[1].Payload[58], 0x81); // 8 connections, transparent
    EXPECT_EQ(steps[1].Payload[51], 1);    // TCP Client
    EXPECT_EQ(host.BlockStore.BasePort[67 + 58], 0x81);
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
