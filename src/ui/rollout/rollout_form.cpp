#include "ui/rollout/rollout_form.h"

#include "core/convert.h"
#include "core/file_read.h"
#include "lang/apply_texts.h"
#include "upgrade/upgrade_session.h"

#include <QFile>

#include <limits>

namespace varnix {

namespace {

constexpr int MaxParallel = 256; // as varnix-cli rollout --parallel

TError Refused(const char* field, const QString& text, const std::string& message) {
    return TError{field, text.toStdString(), message};
}

// A whole decimal number within lo..hi (spaces around it allowed), or nothing.
std::optional<int> Count(const QString& text, int lo, int hi) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    return ok && v >= lo && v <= hi ? std::optional<int>(v) : std::nullopt;
}

TResult<std::shared_ptr<const TIdBytes>> Image(const QString& path) {
    if (path.trimmed().isEmpty())
        return Refused("image", path, "no image file given");
    auto image = ReadFirmwareImage(QFile::encodeName(path).toStdString());
    if (!image)
        return Refused("image", path, image.Error().Message);
    if (image->size() < FirmwareSignatureSize)
        return Refused("signature", path, "shorter than its 4-byte signature");
    return std::make_shared<const TIdBytes>(image->begin(), image->end());
}

TStatus Numbers(const TRolloutForm& form, TRolloutOptions& o) {
    const auto parallel = Count(form.Parallel, 1, MaxParallel);
    if (!parallel)
        return Refused("parallel", form.Parallel, "a number from 1 to 256");
    o.Parallel = *parallel;
    const QString canaryText = form.Canary.trimmed();
    const auto canary =
        canaryText.isEmpty() ? std::optional<int>(0) : Count(canaryText, 0, std::numeric_limits<int>::max());
    if (!canary)
        return Refused("canary", form.Canary, "a number of modules");
    o.Canary = *canary;
    if (!form.Expect.trimmed().isEmpty()) {
        const auto expect = Count(form.Expect, 0, 65535);
        if (!expect)
            return Refused("expect", form.Expect, "a firmware number 0..65535");
        o.ExpectFirmware = *expect;
    }
    return {};
}

TStatus Addresses(const TRolloutForm& form, TRolloutOptions& o) {
    const QString local = form.Local.trimmed();
    if (!local.isEmpty()) {
        // Latin-1 turns a character outside it into '?', which the parser refuses.
        const auto a = ParseIPv4Text(local.toLatin1().toStdString());
        if (!a)
            return Refused("local", form.Local, "not an IPv4 address");
        o.LocalIP = IntToIPText(*a);
    }
    const QString pool = form.Pool.trimmed();
    if (!pool.isEmpty()) {
        auto range = ParseAddressRange(pool.toLatin1().toStdString());
        if (!range)
            return Refused("pool", form.Pool, range.Error().Message);
        o.Pool = *range;
    }
    return {};
}

} // namespace

TResult<TRolloutOptions> RolloutOptionsOf(const TRolloutForm& form) {
    TRolloutOptions o;
    if (TStatus s = Numbers(form, o); !s)
        return s.Error();
    if (TStatus s = Addresses(form, o); !s)
        return s.Error();
    auto login = ParseLoginPair(form.FactoryLogin);
    if (!login)
        return Refused("factoryLogin", form.FactoryLogin, login.Error().Message);
    o.FactoryLogin = *login;
    o.KeepConfig = form.KeepConfig;
    auto image = Image(form.ImageFile);
    if (!image)
        return image.Error();
    o.Image = *image;
    return o;
}

QString FormErrorText(const TTexts& t, const TError& error) {
    const QString text = QString::fromStdString(error.Text);
    const QString message = QString::fromStdString(error.Message);
    if (error.Field == "signature")
        return t.Text("lang_Hint_UpNotFirmware").trimmed() + QStringLiteral(" (") + text + u')';
    if (error.Field == "image")
        return t.Text("lang_Rollout_BadImage").arg(message);
    const std::pair<const char*, const char*> keys[] = {
        {"local", "lang_Rollout_BadLocal"},   {"parallel", "lang_Rollout_BadParallel"},
        {"canary", "lang_Rollout_BadCanary"}, {"expect", "lang_Rollout_BadExpect"},
        {"pool", "lang_Rollout_BadPool"},     {"factoryLogin", "lang_Rollout_BadLogin"}};
    for (const auto& [field, key] : keys)
        if (error.Field == field)
            return t.Text(key).arg(QStringLiteral("'%1' (%2)").arg(text, message));
    return message;
}

namespace {

// Each key written out whole, so the check that every key has a row sees them.
const char* StageKey(TRolloutStage s) {
    switch (s) {
    case TRolloutStage::Find:
        return "lang_Rollout_Stage_find";
    case TRolloutStage::Keep:
        return "lang_Rollout_Stage_keep";
    case TRolloutStage::Upgrade:
        return "lang_Rollout_Stage_upgrade";
    case TRolloutStage::Return:
        return "lang_Rollout_Stage_return";
    case TRolloutStage::Reset:
        return "lang_Rollout_Stage_reset";
    case TRolloutStage::Refind:
        return "lang_Rollout_Stage_refind";
    case TRolloutStage::Restore:
        return "lang_Rollout_Stage_restore";
    case TRolloutStage::Verify:
        return "lang_Rollout_Stage_verify";
    case TRolloutStage::Done:
        return "lang_Rollout_Stage_done";
    }
    return "lang_Rollout_Stage_find";
}

QString StageText(const TTexts& t, const TRolloutModule& m) {
    QString stage = t.Text(StageKey(m.Stage));
    if (m.Canary)
        stage += t.Text("lang_Rollout_Canary");
    return stage;
}

QString ResultText(const TTexts& t, const TRolloutModule& m) {
    switch (m.Outcome) {
    case TRolloutOutcome::Waiting:
        return t.Text("lang_Rollout_Waiting");
    case TRolloutOutcome::Running:
        return t.Text("lang_Rollout_Running");
    case TRolloutOutcome::Done: {
        if (m.Unrestored.isEmpty())
            return t.Text("lang_Rollout_Done");
        QStringList fields;
        for (const TUnrestoredField& u : m.Unrestored)
            fields << u.Field;
        return t.Text("lang_Rollout_DoneUnrestored").arg(fields.join(QStringLiteral(", ")));
    }
    case TRolloutOutcome::Skipped:
        return t.Text("lang_Rollout_Skipped").arg(m.Detail);
    case TRolloutOutcome::Failed:
        return t.Text("lang_Rollout_Failed").arg(m.Detail);
    case TRolloutOutcome::NotStarted:
        return t.Text("lang_Rollout_NotStarted").arg(m.Detail);
    }
    return {};
}

} // namespace

TRolloutLine LineOf(const TTexts& t, const TRolloutModule& m, const QString& address) {
    TRolloutLine line;
    line.Mac = QString::fromStdString(m.Mac);
    line.Address = m.Ip.empty() ? address : QString::fromStdString(m.Ip);
    if (!m.Target.empty() && m.Target != m.Ip)
        line.Address += QStringLiteral(" \u2192 ") + QString::fromStdString(m.Target);
    line.Stage = StageText(t, m);
    // The transfer's share; a module past its transfer shows 100 %.
    if (m.Percent > 0 || (m.Stage > TRolloutStage::Upgrade && m.FirmwareAfter != 0))
        line.Progress = QStringLiteral("%1 %").arg(m.FirmwareAfter != 0 ? 100 : m.Percent);
    if (m.FirmwareBefore != 0)
        line.Firmware = QString::number(m.FirmwareBefore) + QStringLiteral(" \u2192 ") +
                        (m.FirmwareAfter != 0 ? QString::number(m.FirmwareAfter) : QString());
    line.Result = ResultText(t, m);
    line.Detail = m.Detail;
    return line;
}

QString RolloutSummary(const TTexts& t, const std::vector<TRolloutModule>& modules) {
    int done = 0, skipped = 0, failed = 0, notStarted = 0;
    for (const TRolloutModule& m : modules) {
        done += m.Outcome == TRolloutOutcome::Done ? 1 : 0;
        skipped += m.Outcome == TRolloutOutcome::Skipped ? 1 : 0;
        failed += m.Outcome == TRolloutOutcome::Failed ? 1 : 0;
        notStarted += m.Outcome == TRolloutOutcome::NotStarted ? 1 : 0;
    }
    return t.Text("lang_Rollout_Summary")
        .arg(modules.size())
        .arg(done)
        .arg(skipped)
        .arg(failed)
        .arg(notStarted);
}

} // namespace varnix
