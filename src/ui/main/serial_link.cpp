#include "ui/main/serial_link.h"

#include "core/block_store.h"
#include "core/blocks.h"
#include "core/convert.h"
#include "engine/clock.h"
#include "lang/apply_texts.h"
#include "lang/error_text.h"
#include "lang/text_codec.h"
#include "model/module_settings.h"
#include "serial/port_list.h"
#include "serial/serial_frames.h"
#include "ui/common/colours.h"
#include "ui/main/com_port_box.h"
#include "ui/main/pages/page_common.h"
#include "ui/main/pages/page_host.h"
#include "ui/main/pages/page_set.h"
#include "ui/main/pages/z1_page.h"
#include "ui/main/pages/z2_page.h"

#include <QFile>
#include <QPushButton>
#include <QRadioButton>

#include <cstring>

namespace varnix {

namespace {

// Why a port did not open, in words a user can act on; empty for "no name".
QString OpenFailureReason(const TSerialOpenError& e, const TTexts& texts) {
    switch (e.Kind) {
    case TSerialOpenFailure::NoName:
        return {};
    case TSerialOpenFailure::NotSerial:
        return texts.Text("lang_ComNotTty");
    case TSerialOpenFailure::Busy:
        return texts.Text("lang_ComBusy");
    case TSerialOpenFailure::NoPermission:
        return texts.Text("lang_ComNoAccess");
    case TSerialOpenFailure::Missing:
        return texts.Text("lang_ComMissing");
    case TSerialOpenFailure::Other:
        break;
    }
    return e.SystemError == 0 ? QString::fromStdString(e.Text)
                              : QString::fromLocal8Bit(std::strerror(e.SystemError));
}

// A Z2 module's settings as a 137-byte serial reply gives them: its base and port blocks.
TModuleSettings SerialZ2Settings(const std::array<std::uint8_t, ParamReplySize>& blocks) {
    TBlockStore store;
    store.BasePort = blocks;
    TReceivedBlocks got;
    got.Params = true;
    return DecodeModuleSettings(FamilyZ2, 0, store, got);
}

TIdBytes Part(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t size) {
    const auto part = bytes.subspan(at, size);
    return TIdBytes(part.begin(), part.end());
}

} // namespace

TSerialLink::TSerialLink(TSerialLinkParts parts, QObject* parent) : QObject(parent), p_(std::move(parts)) {
    TClock& clock = p_.Clock != nullptr ? *p_.Clock : RealClock();
    read_ = std::make_unique<TSerialReadJob>(clock, &cm1_);
    save_ = std::make_unique<TSerialSaveJob>(clock, &cm1_);
    WireJob(*read_);
    WireJob(*save_);
    read_->OnDone = [this](const TSerialReadResult& r) { ReadDone(r); };
    save_->OnDone = [this](const TSerialSaveResult& r) { SaveDone(r); };

    connect(p_.SelectCom, &TComPortBox::DropDown, this, &TSerialLink::RefreshComPortList);
    connect(p_.SelectCom, &TComPortBox::CloseUp, this, &TSerialLink::cbb_SelectComCloseUp);
    ConnectCustomBaud(p_.SoftBitRate, p_.Host->Prompts(), p_.Host->Texts());
    connect(p_.ComRead, &QPushButton::clicked, this, &TSerialLink::ReadConfig);
    connect(p_.Pages, &TPageSet::Z1SerialSaveRequested, this, &TSerialLink::SaveZ1);
    connect(p_.Pages, &TPageSet::Z2SerialSaveRequested, this, &TSerialLink::SaveZ2);
}

TSerialLink::~TSerialLink() = default;

QString TSerialLink::Text(const char* key) const {
    return p_.Host->Texts().Text(key);
}

void TSerialLink::Log(const QString& text, const QColor& colour) {
    p_.Host->WriteLog(text, colour);
}

bool TSerialLink::Busy() const {
    return read_->Running() || save_->Running();
}

// ---------------------------------------------------------------------------------------------
// Port list

void TSerialLink::RefreshComPortList() {
    // A name saved or typed stays in the box while it names a port that is there (a pty or a
    // symbolic link counts); otherwise the first port found takes its place.
    const QString typed = p_.SelectCom->currentText();
    const std::vector<std::string> names = p_.PortList ? p_.PortList() : GetComPortList();
    p_.SelectCom->clear();
    for (const std::string& n : names)
        p_.SelectCom->addItem(QFile::decodeName(QByteArray::fromStdString(n)));
    const QString chosen = QFile::decodeName(
        QByteArray::fromStdString(ChooseComPort(QFile::encodeName(typed).toStdString(), names)));
    const int index = p_.SelectCom->findText(chosen);
    if (index >= 0)
        p_.SelectCom->setCurrentIndex(index);
    else
        p_.SelectCom->setEditText(chosen);
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

TSerialPort TSerialLink::Port() const {
    bool ok = false;
    const uint rate = p_.SoftBitRate->currentText().toUInt(&ok);
    return {QFile::encodeName(p_.SelectCom->currentText()).toStdString(), ok && rate > 0 ? rate : 9600u};
}

// ---------------------------------------------------------------------------------------------
// What the jobs report

void TSerialLink::WireJob(TSerialJob& job) {
    job.OnOpened = [this] { Log(Text("lang_ComIsOpen"), kColourGreen); };
    job.OnSent = [this](const TIdBytes& frame) { ShowSent(frame); };
    job.OnChunk = [this](std::span<const std::uint8_t> chunk, TSerialChunk use) { ShowChunk(chunk, use); };
}

void TSerialLink::ShowSent(const TIdBytes& frame) {
    p_.Hex(QStringLiteral("[ PC ] \u2192 [ Device ]"), kColourBlue);
    p_.Hex(QStringLiteral("[ Length : %1 ]").arg(frame.size()), kColourBlue);
    p_.Hex(QString::fromLatin1(BytesToHexDump(frame)), QColor());
    Log(Text("lang_ts_Send") + Text("lang_ts_OK"), kColourGreen);
}

void TSerialLink::ShowChunk(std::span<const std::uint8_t> chunk, TSerialChunk use) {
    p_.Hex(QStringLiteral("[ PC ] \u2190 [ Device ]"), kColourGreen);
    p_.Hex(QStringLiteral("[ Length : %1 ]").arg(chunk.size()), kColourGreen);
    p_.Hex(QString::fromLatin1(BytesToHexDump(chunk)), QColor());
    // Whatever the display raises stays here: the job goes on, the log says so.
    try {
        ShowReply(chunk, use);
    } catch (const std::exception&) {
        Log(QStringLiteral("Error"), kColourRed);
    }
}

void TSerialLink::ShowReply(std::span<const std::uint8_t> chunk, TSerialChunk use) {
    switch (use) {
    case TSerialChunk::Ack:
        Log(Text("lang_Ts_ComSetOk"), kColourGreen);
        break;
    case TSerialChunk::Z1Bad:
        Log(Text("lang_DataHeadOrChkErr"), kColourRed);
        break;
    case TSerialChunk::Z1Reply: {
        lastZ1_ = read_->Result().Z1;
        lastZ1Port_ = opPort_;
        p_.Host->SetPageMode(1);
        p_.Pages->Z1().ShowZ1(*lastZ1_);
        Log(Text("lang_ts_Read") + Text("lang_ts_OK"), kColourGreen);
        break;
    }
    case TSerialChunk::Z2Params: {
        // Shown at once; the job asks for the follow-up when this returns.
        const TComZ2Params& r = *read_->Result().Z2;
        lastZ2Blocks_ = r.Blocks;
        lastZ2Port_ = opPort_;
        p_.Host->SetPageMode(2);
        p_.Pages->Z2().ClearSettings(); // the module on the cable may be another one
        p_.Pages->Z2().ShowSettings(SerialZ2Settings(r.Blocks));
        Log(Text("lang_ts_Read") + Text("lang_ts_OK"), kColourGreen);
        break;
    }
    case TSerialChunk::Z2More: {
        const TComZ2More r = ParseZ2ComMore(chunk.first<ComZ2MoreReplySize>());
        if (!lastZ2Blocks_)
            break; // nothing to show it with
        if (z2ReadObserver_)
            z2ReadObserver_(SerialZ2Read(*lastZ2Blocks_, chunk.first<ComZ2MoreReplySize>()));
        TModuleSettings s = SerialZ2Settings(*lastZ2Blocks_);
        s.HasCloud = r.Cloud.size() == 1;
        if (s.HasCloud)
            s.Cloud = r.Cloud.front();
        s.HasHeart = true;
        s.Heart = DecodeHeartBlock(r.Heart);
        p_.Pages->Z2().ShowSettings(s);
        break;
    }
    case TSerialChunk::Dropped:
        break;
    }
}

void TSerialLink::LogNotOpen(const TSerialOpenError& error, int frames) {
    const QString reason = OpenFailureReason(error, p_.Host->Texts());
    Log(reason.isEmpty() ? Text("lang_ComIsNo") : Text("lang_ComIsNo") + QStringLiteral(" (") + reason + u')',
        kColourRed);
    for (int i = 0; i < frames; ++i)
        Log(Text("lang_Ts_ComSendFailure"), kColourRed);
}

// ---------------------------------------------------------------------------------------------
// Operations

void TSerialLink::BeginOperation() {
    opPort_ = p_.SelectCom->currentText();
    p_.ComRead->setEnabled(false);
}

void TSerialLink::EndOperation() {
    Log(Text("lang_ComIsClose"), kColourGreen);
    p_.ComRead->setEnabled(true);
    emit OperationFinished();
}

void TSerialLink::ReadConfig() {
    // One operation at a time.
    if (Busy())
        return;
    const std::int32_t family = ChosenFamily();
    p_.ClearPanes();
    BeginOperation();
    read_->Start(Port(), family);
}

void TSerialLink::ReadDone(const TSerialReadResult& r) {
    if (r.Failure == TSerialFailure::OpenFailed)
        LogNotOpen(r.Open, 1);
    else if (r.Failure == TSerialFailure::NotSent)
        Log(Text("lang_Ts_ComSendFailure"), kColourRed);
    if (r.LineGone)
        Log(Text("lang_ComGone"), kColourRed);
    EndOperation();
}

void TSerialLink::StartSave(TSaveRecord record, std::vector<TIdBytes> frames) {
    record.Frames = static_cast<int>(frames.size());
    saving_ = std::move(record);
    BeginOperation();
    save_->Start(Port(), std::move(frames));
}

void TSerialLink::SaveDone(const TSerialSaveResult& r) {
    if (r.Failure == TSerialFailure::OpenFailed)
        LogNotOpen(r.Open, saving_ ? saving_->Frames : 1);
    else if (r.Failure == TSerialFailure::NotSent)
        Log(Text("lang_Ts_ComSendFailure"), kColourRed);
    if (r.LineGone)
        Log(Text("lang_ComGone"), kColourRed);
    // A save that sent nothing wrote nothing: no journal line.
    if (saving_ && r.Frames > 0)
        JournalSave(*saving_, r.Acks,
                    r.Acks >= saving_->Frames ? QStringLiteral("acknowledged") : QStringLiteral("no-answer"));
    saving_.reset();
    EndOperation();
}

void TSerialLink::Cancel() {
    if (!Busy())
        return;
    const bool sending = save_->Running();
    const TSerialSaveResult sent = save_->Result();
    read_->Cancel();
    save_->Cancel();
    if (sending && saving_ && sent.Frames > 0)
        JournalSave(*saving_, sent.Acks, QStringLiteral("interrupted"));
    saving_.reset();
    p_.ComRead->setEnabled(true);
    emit OperationFinished();
}

void TSerialLink::CloseComPort() {
    Cancel();
    cm1_.ClosePort();
    Log(Text("lang_ComIsClose"), kColourGreen);
}

void TSerialLink::SaveZ1() {
    if (Busy())
        return;
    // The frame is built (and refused with the field named) before the port opens.
    const auto frame = p_.Pages->Z1().BuildZ1SerialFrameFromPage();
    if (!frame)
        return;
    const TIdBytes bytes(frame->begin(), frame->end());
    TSaveRecord record;
    TWrittenBlock body{QStringLiteral("parameter block"), {}, Part(bytes, 2, Z1BodySize)};
    if (lastZ1_ && lastZ1Port_ == p_.SelectCom->currentText()) {
        std::array<std::uint8_t, Z1BodySize> old{};
        EncodeZ1Body(*lastZ1_, old);
        body.Old.assign(old.begin(), old.end());
        record.Entry.Ip = QString::fromStdString(lastZ1_->ModuleIP);
    }
    record.Entry.Family = ChosenFamily() == FamilyZ1 ? QStringLiteral("Z1") : QStringLiteral("Z3");
    record.Blocks = {body};
    StartSave(std::move(record), {bytes});
}

void TSerialLink::SaveZ2() {
    if (Busy())
        return;
    if (!lastZ2Blocks_ || lastZ2Port_ != p_.SelectCom->currentText()) {
        // Without the module's own blocks the hidden settings would be overwritten with guesses.
        Log(Text("lang_ComReadFirst"), kColourRed);
        p_.Host->Prompts().Message(p_.Pages->Window(), p_.Pages->Window()->windowTitle(),
                                   Text("lang_ComReadFirst"), IUserPrompts::Icon::Warning);
        return;
    }
    // Base and port from the page over what the module reported; the registration selector sets
    // the three registration flags as a LAN save does.
    const TResult<TModuleSettings> wanted = p_.Pages->Z2().ReadSettings(SerialZ2Settings(*lastZ2Blocks_));
    if (!wanted) {
        p_.Pages->Z2().ShowFieldError(wanted.Error());
        return;
    }
    const TZ2SaveInput in = MakeZ2SaveInput(*wanted);
    std::array<TIdBytes, 3> frames;
    try {
        frames = BuildZ2ComSaveFrames(*lastZ2Blocks_, in.Base, in.Port);
    } catch (const ConversionError& e) {
        p_.Pages->Z2().ShowFieldError(TError{"", e.text(), e.what()});
        return;
    }
    const auto& old = *lastZ2Blocks_;
    const auto was = DecodeParamReply(old).first;
    TSaveRecord record;
    record.Entry.Mac = QString::fromStdString(was.UserMAC);
    record.Entry.Ip = QString::fromStdString(was.StaticIP);
    record.Entry.Name = BytesToDisplay(was.ModName);
    record.Entry.Family = QStringLiteral("Z2");
    // Each block frame is its command byte pair, then the block.
    record.Blocks = {
        {QStringLiteral("base block"), Part(old, 0, BaseBlockSize), Part(frames[0], 2, BaseBlockSize)},
        {QStringLiteral("port block"), Part(old, BaseBlockSize, PortBlockSize),
         Part(frames[1], 2, PortBlockSize)}};
    StartSave(std::move(record), {frames.begin(), frames.end()});
}

void TSerialLink::JournalSave(const TSaveRecord& record, int acks, const QString& outcome) {
    TJournalEntry entry = record.Entry;
    entry.Link = QStringLiteral("serial");
    for (int i = 0; i < acks; ++i)
        entry.Acks.append(QStringLiteral("frame %1 K").arg(i + 1));
    entry.Outcome = outcome;
    if (const TStatus j = JournalBlocks(p_.ProgramDir, entry, record.Blocks); !j)
        Log(ErrorMessage(j.Error()), kColourRed);
}

} // namespace varnix
