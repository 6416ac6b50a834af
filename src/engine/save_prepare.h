#pragma once
// One module's save, from the values a read brought back to the acknowledged and verified
// result. Preparing is pure: the page save plan is built into a copy of the module's blocks, the
// blocks the module did not send in its read are taken out again (with the reason), and what the
// module will hold afterwards is decoded from the planned bytes, so the changes shown are the
// changes sent, side effects included.

#include "engine/module_ref.h"
#include "lan/save_plan.h"
#include "model/fields.h"
#include "model/module_settings.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <set>
#include <string>

namespace varnix {

struct TSkippedBlock {
    int Code = 0;
    QString Block; // "cloud", "heartbeat", "httpd", "modbus"
    QString Reason;
};

struct TPreparedSave {
    bool Ok = false;
    QStringList Errors; // why nothing may be sent ("Field: reason")
    QStringList Notes;  // lenient mode: assignments left out, with the reason
    TModuleSettings Before;
    TModuleSettings After;           // what the module will hold once the blocks are applied
    QList<TFieldChange> Changes;     // the ones asked for
    QList<TFieldChange> SideEffects; // changes the save makes without being asked (page rules)
    QList<TSkippedBlock> Skipped;
    TSavePlan Plan; // the steps that will be sent
    std::set<TFieldGroup> SentGroups;
    TLogin NewLogin;    // the log-in the module takes at its restart
    std::string NewMac; // the MAC it will answer under
    bool Nothing() const { return Changes.isEmpty() && SideEffects.isEmpty(); }
};

// How an assignment that cannot arrive as given (its block is not sent, or the save's rules write
// another value) is treated: an error for values a person typed (set, provision), a note for a
// profile, which carries every field of another module.
enum class TPrepareMode { Strict, Lenient };

// `store` holds the module's blocks from the read; `list` the assignments (field-table order is
// applied). Fails with Errors for a refused assignment, a value the plan cannot convert, or (in
// strict mode) a changed field the save would not send or not write as given.
TPreparedSave PrepareSave(const TModuleSettings& before, const TBlockStore& store,
                          const QList<TAssignment>& list, TPrepareMode mode = TPrepareMode::Strict);

// The same for settings edited as a whole (a parameter page): every writable field whose value
// differs from the read is an assignment, checked and planned as above (strict).
TPreparedSave PrepareSaveOf(const TModuleSettings& before, const TBlockStore& store,
                            const TModuleSettings& wanted);

// Fields of the sent groups whose read-back value differs from what was sent. A Modbus field
// that the read-back reply's kind does not carry is not compared.
struct TMismatch {
    const TFieldDef* Field = nullptr;
    QJsonValue Sent, Read;
};
QList<TMismatch> CompareReadBack(const TPreparedSave& save, const TModuleSettings& readBack);

// The datagrams of a plan as they go on the wire, for --dry-run.
struct TPlannedDatagram {
    int Code = 0;
    int Port = 0;
    int PauseMs = 0;
    TIdBytes Bytes;
};
QList<TPlannedDatagram> PlanDatagrams(const TSavePlan& plan, const std::string& mac, const TLogin& login);

QString BlockNameOfCode(int code); // "base", "port", "cloud", ..., "restart", "end of save"

} // namespace varnix
