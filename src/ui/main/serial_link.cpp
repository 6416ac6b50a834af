#include "ui/main/serial_link.h"

#include "core/block_store.h"
#include "core/blocks.h"
#include "core/convert.h"
#include "lang/app_lang.h"
#include "lang/text_codec.h"
#include "model/module_settings.h"
#include "serial/delay_with_messages.h"
#include "serial/port_list.h"
#include "serial/serial_frames.h"
#include "ui/common/colours.h"
#include "ui/main/com_port_box.h"
#include "ui/main/pages/page_common.h"
#include "ui/main/pages/page_host.h"
#include "ui/main/pages/z1_page.h"
#include "ui/main/pages/z2_page.h"

#include <QFile>
#include <QPushButton>
#include <QRadioButton>

#include <cerrno>
#include <cstring>
#include <thread>

namespace varnix {

namespace {

QString Text(const char* key) {
    return GetLangText(QString::fromLatin1(key));
}

// Why a port did not open, in words a user can act on; empty for "no name".
QString OpenFailureReason(const ECommsError& e) {
    if (std::strcmp(e.what(), CommErrNotComm) == 0)
        return Text("lang_ComNotTty");
    switch (e.SystemError()) {
    case EBUSY:
        return Text("lang_ComBusy");
    case EACCES:
    case EPERM:
        return Text("lang_ComNoAccess");
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return Text("lang_ComMissing");
    case 0:
        return QString::fromLatin1(e.what());
    default:
        return QString::fromLocal8Bit(std::strerror(e.SystemError()));
    }
}

// A Z2 module's settings as a 137-byte serial reply gives them: its base and port blocks.
TModuleSettings SerialZ2Settings(const std::array<std::uint8_t, ParamReplySize>& blocks) {
    TBlockStore store;
    store.BasePort = blocks;
    TReceivedBlocks got;
    got.Params = true;
    return DecodeModuleSettings(FamilyZ2, 0, store, got);
}

} // namespace

TSerialLink::TSerialLink(TSerialLinkParts parts, QObject* parent) : QObject(parent), p_(std::move(parts)) {
    // The settings of cm1: no flow control of any kind, DTR and RTS on, a 50 ms gap per chunk.
    cm1_.SetOutx_CtsFlow(false);
    cm1_.SetOutx_DsrFlow(false);
    cm1_.SetTxContinueOnXoff(false);
    cm1_.SetReadIntervalTimeout(50);
    cm1_.OnReceiveData = [this](TComm&, const std::uint8_t* b, std::uint16_t n) { HandleComData(b, n); };
    cm1_.OnRequestHangup = [this](TComm&) {
        // The adapter was pulled out (or the line closed): the port is of no more use.
        Log(Text("lang_ComGone"), kColourRed);
        cm1_.ClosePort();
        comIsOpen_ = false;
    };

    connect(p_.SelectCom, &TComPortBox::DropDown, this, &TSerialLink::RefreshComPortList);
    connect(p_.SelectCom, &TComPortBox::CloseUp, this, &TSerialLink::cbb_SelectComCloseUp);
    ConnectCustomBaud(p_.SoftBitRate, p_.Host->Prompts());
    connect(p_.ComRead, &QPushButton::clicked, this, &TSerialLink::ReadConfig);
    connect(p_.Z1Page, &TZ1Page::SerialSaveRequested, this, &TSerialLink::SaveZ1);
    connect(p_.Z2Page, &TZ2Page::SerialSaveRequested, this, &TSerialLink::SaveZ2);
}

TSerialLink::~TSerialLink() {
    cm1_.ClosePort();
}

void TSerialLink::Log(const QString& text, const QColor& colour) {
    p_.Host->WriteLog(text, colour);
}

// ---------------------------------------------------------------------------------------------
// Port list

void TSerialLink::RefreshComPortList() {
    // A name the user typed (a pty, a symbolic link) stays in the box.
    const QString typed = p_.SelectCom->currentText();
    const std::vector<std::string> names = p_.PortList ? p_.PortList() : GetComPortList();
    p_.SelectCom->clear();
    for (const std::string& n : names)
        p_.SelectCom->addItem(QFile::decodeName(QByteArray::fromStdString(n)));
    const int index = p_.SelectCom->findText(typed);
    if (index >= 0)
        p_.SelectCom->setCurrentIndex(index);
    else
        p_.SelectCom->setEditText(typed);
}

void TSerialLink::cbb_SelectComCloseUp() {
    // A name typed by hand counts as a choice; only an empty box takes the first port.
    if (p_.SelectCom->currentIndex() < 0 && p_.SelectCom->currentText().isEmpty() &&
        p_.SelectCom->count() > 0)
        p_.SelectCom->setCurrentIndex(0);
}

void TSerialLink::TabSelected() {
    RefreshComPortList();
    cbb_SelectComCloseUp();
}

std::int32_t TSerialLink::ChosenFamily() const {
    if (p_.Z1->isChecked())
        return FamilyZ1;
    if (p_.Z2->isChecked())
        return FamilyZ2;
    if (p_.Z3->isChecked())
        return FamilyZ3;
    return FamilyUnknown;
}

// ---------------------------------------------------------------------------------------------
// Steps

bool TSerialLink::OpenComPort() {
    const QString name = p_.SelectCom->currentText();
    QString reason;
    comIsOpen_ = false;
    if (!name.isEmpty()) {
        cm1_.ClosePort();
        cm1_.SetCommName(QFile::encodeName(name).toStdString());
        bool ok = false;
        const uint rate = p_.SoftBitRate->currentText().toUInt(&ok);
        cm1_.SetBaudRate(ok && rate > 0 ? rate : 9600);
        cm1_.SetParityCheck(false);
        cm1_.SetParity(TParity::None);
        cm1_.SetByteSize(TByteSize::_8);
        cm1_.SetStopBits(TStopBits::_1);
        try {
            cm1_.OpenPort();
            comIsOpen_ = true;
        } catch (const ECommsError& e) {
            reason = OpenFailureReason(e);
        }
    }
    if (comIsOpen_)
        Log(Text("lang_ComIsOpen"), kColourGreen);
    else
        Log(reason.isEmpty() ? Text("lang_ComIsNo")
                             : Text("lang_ComIsNo") + QStringLiteral(" (") + reason + u')',
            kColourRed);
    return comIsOpen_;
}

void TSerialLink::CloseComPort() {
    cm1_.ClosePort();
    comIsOpen_ = false;
    Log(Text("lang_ComIsClose"), kColourGreen);
}

void TSerialLink::SendComFrame(const TIdBytes& frame) {
    if (!comIsOpen_ || frame.size() > 0xFFFF ||
        !cm1_.WriteData(frame.data(), static_cast<std::uint16_t>(frame.size()))) {
        Log(Text("lang_Ts_ComSendFailure"), kColourRed);
        return;
    }
    p_.Hex(QStringLiteral("[ PC ] \u2192 [ Device ]"), kColourBlue);
    p_.Hex(QStringLiteral("[ Length : %1 ]").arg(frame.size()), kColourBlue);
    p_.Hex(QString::fromLatin1(BytesToHexDump(frame)), QColor());
    Log(Text("lang_ts_Send") + Text("lang_ts_OK"), kColourGreen);
}

void TSerialLink::HandleComData(const std::uint8_t* buffer, std::uint16_t length) {
    const std::span<const std::uint8_t> chunk(buffer, length);
    p_.Hex(QStringLiteral("[ PC ] \u2190 [ Device ]"), kColourGreen);
    p_.Hex(QStringLiteral("[ Length : %1 ]").arg(length), kColourGreen);
    p_.Hex(QString::fromLatin1(BytesToHexDump(chunk)), QColor());
    switch (ClassifyComReply(chunk)) {
    case TComReply::Ack:
        ++acks_;
        Log(Text("lang_Ts_ComSetOk"), kColourGreen);
        break;
    case TComReply::Z1Params:
        ParseZ1ComReply(chunk);
        break;
    case TComReply::Z2Params: {
        const TComZ2Params r = ParseZ2ComParams(chunk.first<ComZ2ParamReplySize>());
        lastZ2Blocks_ = r.Blocks;
        lastZ2Port_ = p_.SelectCom->currentText();
        p_.Host->Store().KeepFromSerialReply(r.KeptStatus, r.KeptSocketFlags);
        p_.Host->SetPageMode(2);
        p_.Z2Page->ClearSettings(); // the module on the cable may be another one
        p_.Z2Page->ShowSettings(SerialZ2Settings(r.Blocks));
        Log(Text("lang_ts_Read") + Text("lang_ts_OK"), kColourGreen);
        SendComFrame(BuildComZ2MoreRequest());
        break;
    }
    case TComReply::Z2More: {
        const TComZ2More r = ParseZ2ComMore(chunk.first<ComZ2MoreReplySize>());
        if (!lastZ2Blocks_)
            break; // nothing to show it with
        TModuleSettings s = SerialZ2Settings(*lastZ2Blocks_);
        s.HasCloud = r.Cloud.size() == 1;
        if (s.HasCloud)
            s.Cloud = r.Cloud.front();
        s.HasHeart = true;
        s.Heart = DecodeHeartBlock(r.Heart);
        p_.Z2Page->ShowSettings(s);
        break;
    }
    case TComReply::OtherByte:
    case TComReply::Unknown:
        break;
    }
}

void TSerialLink::ParseZ1ComReply(std::span<const std::uint8_t> reply) {
    const std::optional<TZ1Params> values = varnix::ParseZ1ComReply(reply.first<ComZ1ReplySize>());
    if (!values) {
        Log(Text("lang_DataHeadOrChkErr"), kColourRed);
        return;
    }
    lastZ1_ = values;
    lastZ1Port_ = p_.SelectCom->currentText();
    p_.Host->SetPageMode(1);
    p_.Z1Page->ShowZ1(*values);
    Log(Text("lang_ts_Read") + Text("lang_ts_OK"), kColourGreen);
}

// ---------------------------------------------------------------------------------------------
// Operations

void TSerialLink::RunOperation(const std::function<void()>& sends) {
    busy_ = true;
    // Whatever a step raises, the port is closed and the buttons come back.
    try {
        OpenComPort();
        sends();
        DelayWithMessages(ReplyWaitMs);
    } catch (const std::exception&) {
        Log(QStringLiteral("Error"), kColourRed);
    }
    CloseComPort();
    busy_ = false;
    emit OperationFinished();
}

void TSerialLink::ReadConfig() {
    // One operation at a time: a click during another one's wait is ignored.
    if (busy_)
        return;
    const TIdBytes request = BuildComReadRequest(ChosenFamily());
    p_.ClearPanes();
    p_.ComRead->setEnabled(false);
    RunOperation([&] { SendComFrame(request); });
    p_.ComRead->setEnabled(true);
}

void TSerialLink::SaveZ1() {
    if (busy_)
        return;
    // The frame is built (and refused with the field named) before the port opens.
    const auto frame = p_.Z1Page->BuildZ1SerialFrameFromPage();
    if (!frame)
        return;
    const TIdBytes bytes(frame->begin(), frame->end());
    acks_ = 0;
    RunOperation([&] { SendComFrame(bytes); });
    TJournalEntry e;
    TWrittenBlock body{
        QStringLiteral("parameter block"), {}, TIdBytes(bytes.begin() + 2, bytes.begin() + 2 + Z1BodySize)};
    if (lastZ1_ && lastZ1Port_ == p_.SelectCom->currentText()) {
        std::array<std::uint8_t, Z1BodySize> old{};
        EncodeZ1Body(*lastZ1_, old);
        body.Old.assign(old.begin(), old.end());
        e.Ip = QString::fromStdString(lastZ1_->ModuleIP);
    }
    e.Family = ChosenFamily() == FamilyZ1 ? QStringLiteral("Z1") : QStringLiteral("Z3");
    JournalSave(e, {body}, 1);
}

void TSerialLink::SaveZ2() {
    if (busy_)
        return;
    if (!lastZ2Blocks_ || lastZ2Port_ != p_.SelectCom->currentText()) {
        // Without the module's own blocks the hidden settings would be overwritten with guesses.
        Log(Text("lang_ComReadFirst"), kColourRed);
        p_.Host->Prompts().Message(p_.Z2Page->window(), p_.Z2Page->window()->windowTitle(),
                                   Text("lang_ComReadFirst"), IUserPrompts::Icon::Warning);
        return;
    }
    // Base and port from the page over what the module reported; the registration selector sets
    // the three registration flags as a LAN save does.
    const TResult<TModuleSettings> wanted = p_.Z2Page->ReadSettings(SerialZ2Settings(*lastZ2Blocks_));
    if (!wanted) {
        p_.Z2Page->ShowFieldError(wanted.Error());
        return;
    }
    const TZ2SaveInput in = MakeZ2SaveInput(*wanted);
    std::array<TIdBytes, 3> frames;
    try {
        frames = BuildZ2ComSaveFrames(*lastZ2Blocks_, in.Base, in.Port);
    } catch (const ConversionError& e) {
        p_.Z2Page->ShowFieldError(TError{"", e.text(), e.what()});
        return;
    }
    auto sleep = [this](std::chrono::milliseconds ms) {
        if (p_.Sleep)
            p_.Sleep(ms);
        else
            std::this_thread::sleep_for(ms);
    };
    acks_ = 0;
    RunOperation([&] {
        SendComFrame(frames[0]);
        sleep(FramePause);
        SendComFrame(frames[1]);
        sleep(FramePause);
        SendComFrame(frames[2]);
    });
    const auto& old = *lastZ2Blocks_;
    const auto was = DecodeParamReply(old).first;
    TJournalEntry e;
    e.Mac = QString::fromStdString(was.UserMAC);
    e.Ip = QString::fromStdString(was.StaticIP);
    e.Name = BytesToDisplay(was.ModName);
    e.Family = QStringLiteral("Z2");
    const auto part = [](const auto& bytes, std::size_t at, std::size_t size) {
        return TIdBytes(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                        bytes.begin() + static_cast<std::ptrdiff_t>(at + size));
    };
    // Each block frame is its command byte pair, then the block.
    JournalSave(
        e,
        {{QStringLiteral("base block"), part(old, 0, BaseBlockSize), part(frames[0], 2, BaseBlockSize)},
         {QStringLiteral("port block"), part(old, BaseBlockSize, PortBlockSize),
          part(frames[1], 2, PortBlockSize)}},
        3);
}

void TSerialLink::JournalSave(TJournalEntry entry, const std::vector<TWrittenBlock>& blocks, int frames) {
    entry.Link = QStringLiteral("serial");
    for (int i = 0; i < acks_; ++i)
        entry.Acks.append(QStringLiteral("frame %1 K").arg(i + 1));
    entry.Outcome = acks_ >= frames ? QStringLiteral("acknowledged") : QStringLiteral("no-answer");
    if (QString error; !JournalBlocks(p_.ProgramDir, entry, blocks, &error))
        Log(error, kColourRed);
}

} // namespace varnix
