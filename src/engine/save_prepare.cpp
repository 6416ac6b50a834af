#include "engine/save_prepare.h"

#include "core/convert.h"
#include "lan/lan_protocol.h"

#include <algorithm>

namespace varnix {

namespace {

TFieldGroup GroupOfCode(int code) {
    switch (code) {
    case CmdWriteCloud:
        return TFieldGroup::Cloud;
    case CmdWriteHeart:
        return TFieldGroup::Heart;
    case CmdWriteHttpdUrl:
    case CmdWriteHttpdHeader:
        return TFieldGroup::Httpd;
    case CmdWriteModbus:
        return TFieldGroup::Modbus;
    case CmdWritePort:
        return TFieldGroup::Port;
    default:
        return TFieldGroup::Base;
    }
}

bool HasStep(const TSavePlan& plan, int code) {
    return std::any_of(plan.Steps.begin(), plan.Steps.end(),
                       [code](const TSaveStep& s) { return s.Code == code; });
}

} // namespace

QString BlockNameOfCode(int code) {
    switch (code) {
    case CmdWriteBase:
        return QStringLiteral("base");
    case CmdWritePort:
        return QStringLiteral("port");
    case CmdWriteCloud:
        return QStringLiteral("cloud");
    case CmdWriteHeart:
        return QStringLiteral("heartbeat");
    case CmdWriteHttpdUrl:
        return QStringLiteral("httpd URL");
    case CmdWriteHttpdHeader:
        return QStringLiteral("httpd header");
    case CmdWriteModbus:
        return QStringLiteral("modbus");
    case CmdRestart:
        return QStringLiteral("restart");
    case CmdZ3SaveEnd:
        return QStringLiteral("end of save");
    case CmdFactoryReset:
        return QStringLiteral("factory reset");
    case CmdRead:
        return QStringLiteral("read");
    default:
        return QStringLiteral("code %1").arg(code);
    }
}

TPreparedSave PrepareSave(const TModuleSettings& before, const TBlockStore& store,
                          const QList<TAssignment>& list, TPrepareMode mode) {
    TPreparedSave p;
    p.Before = before;
    TModuleSettings wanted = before;
    p.Errors = ApplyAssignments(wanted, list);
    if (!p.Errors.isEmpty())
        return p;

    TBlockStore planned = store;
    const bool z2 = before.Family == FamilyZ2;
    QString modbusUnsendable;
    if (z2) {
        TZ2SaveInput in = MakeZ2SaveInput(wanted);
        if (wanted.ModbusKind == 4 && wanted.Modbus.PollInterval.empty()) {
            // The save sends polling settings as kind 7, whose poll interval a 4-byte reply lacks.
            in.Conditions.ModbusGroupVisible = false;
            modbusUnsendable = QStringLiteral("the module's 4-byte Modbus reply has no poll interval; "
                                              "give ModbusPollInterval to send the block");
        }
        p.Plan = PlanZ2Save(in, planned);
    } else {
        p.Plan = PlanZ3Save(MakeZ3SaveInput(wanted), planned);
    }
    if (!p.Plan.Ok) {
        p.Errors << QString::fromStdString(p.Plan.Error.Message);
        return p;
    }

    if (z2) {
        // Never write a block the module did not send in the read, whatever its firmware says.
        const auto skip = [&p](int code, const QString& reason) {
            p.Skipped.push_back(TSkippedBlock{code, BlockNameOfCode(code), reason});
        };
        const QString firmwareReason =
            QStringLiteral("firmware %1 is not above %2").arg(before.Firmware).arg(HeartFirmwareAbove);
        std::vector<TSaveStep> steps;
        for (const TSaveStep& s : p.Plan.Steps) {
            const bool missing =
                (s.Code == CmdWriteCloud && !before.HasCloud) ||
                (s.Code == CmdWriteHeart && !before.HasHeart) ||
                ((s.Code == CmdWriteHttpdUrl || s.Code == CmdWriteHttpdHeader) && !before.HasHttpd);
            if (missing)
                skip(s.Code, QStringLiteral("the module sent no %1 reply in the read")
                                 .arg(GroupName(GroupOfCode(s.Code))));
            else
                steps.push_back(s);
        }
        if (!HasStep(p.Plan, CmdWriteCloud))
            skip(CmdWriteCloud, QStringLiteral("RegisterType is not 3 (Cloud)"));
        if (!HasStep(p.Plan, CmdWriteHeart))
            skip(CmdWriteHeart, firmwareReason);
        if (!HasStep(p.Plan, CmdWriteHttpdUrl)) {
            const QString why = wanted.Port.WorkMode != 4 ? QStringLiteral("WorkMode is not 4 (HTTPD Client)")
                                                          : firmwareReason;
            skip(CmdWriteHttpdUrl, why);
            skip(CmdWriteHttpdHeader, why);
        }
        if (!HasStep(p.Plan, CmdWriteModbus))
            skip(CmdWriteModbus, modbusUnsendable.isEmpty()
                                     ? QStringLiteral("the module sent no Modbus settings in the read")
                                     : modbusUnsendable);
        p.Plan.Steps = steps;
        std::sort(p.Skipped.begin(), p.Skipped.end(),
                  [](const TSkippedBlock& a, const TSkippedBlock& b) { return a.Code < b.Code; });
    }
    for (const TSaveStep& s : p.Plan.Steps)
        if (s.Code != CmdRestart && s.Code != CmdZ3SaveEnd)
            p.SentGroups.insert(GroupOfCode(s.Code));

    // What the module will hold: the planned bytes of the blocks that go out, the read ones of the rest.
    p.After = SettingsAfterPlan(before, planned);
    if (!p.SentGroups.count(TFieldGroup::Cloud))
        p.After.Cloud = before.Cloud;
    if (!p.SentGroups.count(TFieldGroup::Heart))
        p.After.Heart = before.Heart;
    if (!p.SentGroups.count(TFieldGroup::Httpd)) {
        p.After.HttpdUrl = before.HttpdUrl;
        p.After.HttpdHeader = before.HttpdHeader;
    }
    if (!p.SentGroups.count(TFieldGroup::Modbus)) {
        p.After.ModbusKind = before.ModbusKind;
        p.After.Modbus = before.Modbus;
    }

    const QList<TFieldChange> asked = DiffSettings(before, wanted);
    for (const TFieldChange& c : DiffSettings(before, p.After)) {
        const bool isAsked = std::any_of(asked.begin(), asked.end(),
                                         [&c](const TFieldChange& a) { return a.Field == c.Field; });
        (isAsked ? p.Changes : p.SideEffects).push_back(c);
    }
    // Every asked change must arrive as given.
    for (const TFieldChange& a : asked) {
        const TFieldDef& f = *a.Field;
        const QJsonValue will = FieldShown(f, p.After) ? f.Get(p.After) : QJsonValue(QJsonValue::Null);
        if (will == a.New)
            continue;
        QString why;
        if (!p.SentGroups.count(f.Group)) {
            const auto it = std::find_if(p.Skipped.begin(), p.Skipped.end(), [&f](const TSkippedBlock& s) {
                return GroupOfCode(s.Code) == f.Group;
            });
            why = QStringLiteral("the %1 block is not sent: %2")
                      .arg(GroupName(f.Group), it != p.Skipped.end() ? it->Reason : QString());
        } else if (f.Name == QLatin1String("ModbusTCP")) {
            why =
                QStringLiteral("the gateway is written only with WorkMode 1 (TCP Client) or 3 (TCP Server)");
        } else {
            why = QStringLiteral("the save would write %1").arg(DisplayValue(f, will));
        }
        const QString message =
            QStringLiteral("%1: cannot be set to %2: %3").arg(f.Name, DisplayValue(f, a.New), why);
        (mode == TPrepareMode::Strict ? p.Errors : p.Notes) << message;
    }
    if (!p.Errors.isEmpty())
        return p;

    p.NewLogin = TLogin{p.After.Base.UserName, p.After.Base.Password};
    p.NewMac = p.After.Base.UserMAC;
    p.Ok = true;
    return p;
}

TPreparedSave PrepareSaveOf(const TModuleSettings& before, const TBlockStore& store,
                            const TModuleSettings& wanted) {
    QList<TAssignment> list;
    for (const TFieldDef& f : FieldTable()) {
        if (!FieldWritable(f, before) || !FieldShown(f, wanted))
            continue;
        const QJsonValue value = f.Get(wanted);
        if (value != f.Get(before))
            list.push_back(TAssignment{&f, value});
    }
    return PrepareSave(before, store, list, TPrepareMode::Strict);
}

QList<TMismatch> CompareReadBack(const TPreparedSave& save, const TModuleSettings& readBack) {
    QList<TMismatch> out;
    for (const TFieldDef& f : FieldTable()) {
        if (!save.SentGroups.count(f.Group) || !FieldShown(f, save.After))
            continue;
        const QJsonValue sent = f.Get(save.After);
        const QJsonValue read = FieldShown(f, readBack) ? f.Get(readBack) : QJsonValue(QJsonValue::Null);
        if (f.Group == TFieldGroup::Modbus && read.isNull() && readBack.ModbusKind != 0)
            continue;
        if (sent != read)
            out.push_back(TMismatch{&f, sent, read});
    }
    return out;
}

QList<TPlannedDatagram> PlanDatagrams(const TSavePlan& plan, const std::string& mac, const TLogin& login) {
    QList<TPlannedDatagram> out;
    for (const TSaveStep& s : plan.Steps) {
        TPlannedDatagram d;
        d.Code = s.Code;
        d.Port = s.Port;
        d.PauseMs = s.PauseAfterMs;
        d.Bytes = BuildAddressedCommand(s.Code, mac, login.User, login.Password, s.Payload);
        out.push_back(d);
    }
    return out;
}

} // namespace varnix
