#include "upgrade/rollout_journal.h"

#include "app/journal.h"
#include "core/convert.h"
#include "engine/module_ref.h"
#include "inventory/journal_store.h"
#include "lang/error_text.h"
#include "lang/text_codec.h"
#include "model/fields.h"

#include <array>

namespace varnix {

namespace {

constexpr std::array<const char*, 9> StageNames = {"find",   "keep",    "upgrade", "return", "reset",
                                                   "refind", "restore", "verify",  "done"};
const QString RolloutLink = QStringLiteral("rollout");

void Meta(TJournalEntry& e, const char* name, const QJsonValue& oldValue, const QJsonValue& newValue) {
    e.Changes.append(TJournalChange{QString::fromLatin1(name), oldValue, newValue});
}

TRolloutRecord FromEntry(const TJournalEntry& e) {
    TRolloutRecord r;
    r.Event = e.Outcome;
    r.Mac = e.Mac.toStdString();
    r.Ip = e.Ip.toStdString();
    r.Name = DisplayToBytes(e.Name);
    r.Family = e.Family == QLatin1String("Z2")   ? FamilyZ2
               : e.Family == QLatin1String("Z3") ? FamilyZ3
                                                 : FamilyUnknown;
    r.Entry = e.Number;
    for (const TJournalChange& c : e.Changes) {
        if (c.Field == QLatin1String("firmware")) {
            r.FirmwareBefore = c.Old.toInt();
            r.FirmwareAfter = c.New.toInt();
        } else if (c.Field == QLatin1String("image")) {
            r.Image = c.New.toString();
        } else if (c.Field == QLatin1String("stage")) {
            r.Stage = StageOfName(c.New.toString());
        } else if (c.Field == QLatin1String("reason")) {
            r.Reason = c.New.toString();
        } else if (c.Field == QLatin1String("target")) {
            r.Target = c.New.toString();
        } else {
            r.Fields.insert(c.Field, c.Old);
        }
    }
    return r;
}

} // namespace

QString StageName(TRolloutStage s) {
    return QString::fromLatin1(StageNames[static_cast<std::size_t>(s)]);
}

std::optional<TRolloutStage> StageOfName(const QString& name) {
    for (std::size_t i = 0; i < StageNames.size(); ++i)
        if (name == QLatin1String(StageNames[i]))
            return static_cast<TRolloutStage>(i);
    return std::nullopt;
}

QJsonObject KeptFields(const TModuleSettings& s) {
    QJsonObject o;
    for (const TFieldDef& f : FieldTable()) {
        if (!FieldShown(f, s))
            continue;
        const QJsonValue v = f.Get(s);
        if (!v.isNull() && !v.isUndefined())
            o.insert(f.Name, v);
    }
    return o;
}

QString JournalRollout(const QString& programDir, const TRolloutRecord& r) {
    TJournalEntry e;
    e.Mac = QString::fromStdString(r.Mac);
    e.Ip = QString::fromStdString(r.Ip);
    e.Name = BytesToDisplay(r.Name);
    e.Family = r.Family == FamilyZ2 || r.Family == FamilyZ3 ? FamilyText(r.Family) : QString();
    e.Link = RolloutLink;
    e.Outcome = r.Event;
    for (auto it = r.Fields.begin(); it != r.Fields.end(); ++it)
        e.Changes.append(TJournalChange{it.key(), it.value(),
                                        r.Event == QLatin1String("kept") ? it.value() : QJsonValue()});
    if (r.FirmwareBefore != 0 || r.FirmwareAfter != 0)
        Meta(e, "firmware", r.FirmwareBefore,
             r.FirmwareAfter != 0 ? QJsonValue(r.FirmwareAfter) : QJsonValue());
    if (!r.Image.isEmpty())
        Meta(e, "image", QJsonValue(), r.Image);
    if (r.Stage)
        Meta(e, "stage", QJsonValue(), StageName(*r.Stage));
    if (!r.Target.isEmpty())
        Meta(e, "target", QJsonValue(), r.Target);
    if (!r.Reason.isEmpty())
        Meta(e, "reason", QJsonValue(), r.Reason);
    // A "kept" entry comes before the module is flashed: its configuration must survive a power
    // cut, not only the end of this process.
    if (const TStatus appended = AppendJournalEntry(programDir, e, r.Event == QLatin1String("kept"));
        !appended)
        return ErrorMessage(appended.Error());
    return {};
}

std::map<std::string, TRolloutHistory> ReadRolloutHistory(const QString& programDir, QStringList* warnings) {
    const TJournalRead read = ReadJournalEntries(programDir);
    if (warnings) {
        if (!read.Error.isEmpty())
            *warnings << read.Error;
        *warnings << read.Warnings;
    }
    std::map<std::string, TRolloutHistory> out;
    for (const TJournalEntry& e : read.Entries) {
        if (e.Link != RolloutLink)
            continue;
        TRolloutHistory& h = out[MacKey(e.Mac.toStdString())];
        if (e.Outcome == QLatin1String("kept")) {
            h.Kept = FromEntry(e);
        } else if (e.Outcome == QLatin1String("done")) {
            // Its configuration is back: a later run starts from what the module holds then.
            h.Done = FromEntry(e);
            h.Kept.reset();
        }
    }
    return out;
}

} // namespace varnix
