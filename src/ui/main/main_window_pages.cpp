// The bridge between the parameter pages and the LAN save of the window: the module's read is
// decoded as its replies arrive and shown on its page, and a page's save button plans the save
// from that read with the page's values on top. Temporary: the engine's read and save jobs take
// this over.

#include "ui/main/main_window.h"

#include "core/convert.h"
#include "lang/apply_texts.h"
#include "model/page_rules.h"
#include "ui/common/colours.h"
#include "ui/main/pages/z2_page.h"
#include "ui/main/pages/z3_page.h"

namespace varnix {

void TFrm_Main::ReadStarted() {
    const TDeviceRef row = SelectedDevice().value_or(TDeviceRef{});
    // Another module: nothing of the one shown before stays under its row. The same module again
    // keeps its page until its reply shows the new read (a pop-up menu repeats the click).
    if (row.Binding != readRow_.Binding ||
        MacKey(row.Mac.toStdString()) != MacKey(readRow_.Mac.toStdString())) {
        z2Page_->ClearSettings();
        z3Page_->ClearSettings();
        received_ = {};
        lastRead_ = {};
    }
    readRow_ = row;
    freshRead_ = true;
}

void TFrm_Main::ParamsReplied(const std::string& userMac, std::int32_t family) {
    // Parameter replies carry no envelope MAC: only the selected module's own reply is shown.
    const std::optional<TDeviceRef> selected = SelectedDevice();
    if (!selected || MacKey(selected->Mac.toStdString()) != MacKey(userMac))
        return;
    if (family == FamilyZ2 || family == FamilyZ3) {
        if (freshRead_) {
            // The first reply of a read shows all of it, over whatever was typed meanwhile.
            z2Page_->ClearSettings();
            z3Page_->ClearSettings();
            received_ = {};
            freshRead_ = false;
        }
        readRow_ = *selected;
        readRow_.Family = family;
        received_.Params = true;
        SetPageMode(family == FamilyZ2 ? 2 : 3);
        ShowRead();
    }
    LogLine(Text("lang_ts_Read") + Text("lang_ts_OK"), kColourGreen);
}

void TFrm_Main::ShowRead() {
    // The base and port part first: every other block is shown with it.
    if (!received_.Params)
        return;
    lastRead_ = DecodeModuleSettings(readRow_.Family, readRow_.Firmware, udp_->Store(), received_);
    if (lastRead_.Family == FamilyZ2)
        z2Page_->ShowSettings(lastRead_);
    else
        z3Page_->ShowSettings(lastRead_);
}

void TFrm_Main::SaveFromPage(std::int32_t family) {
    const auto selected = SelectedDevice();
    if (!selected) {
        NoTarget();
        return;
    }
    // A save is built from this very module's read: another row, or no reply yet, sends nothing.
    if (selected->Family != family || !received_.Params || lastRead_.Family != family ||
        MacKey(selected->Mac.toStdString()) != MacKey(readRow_.Mac.toStdString()))
        return;
    const bool z2 = family == FamilyZ2;
    const auto refuse = [&](const TError& e) {
        z2 ? z2Page_->ShowFieldError(e) : z3Page_->ShowFieldError(e);
    };
    const TResult<TModuleSettings> wanted =
        z2 ? z2Page_->ReadSettings(lastRead_) : z3Page_->ReadSettings(lastRead_);
    if (!wanted) {
        refuse(wanted.Error());
        return;
    }
    TSavePlan plan;
    if (z2) {
        TZ2SaveInput in = MakeZ2SaveInput(*wanted);
        // A 4-byte Modbus reply has no poll interval, which the kind-7 block a save sends needs:
        // without one given on the page, the Modbus block stays as it is.
        if (wanted->ModbusKind == 4 && wanted->Modbus.PollInterval.empty())
            in.Conditions.ModbusGroupVisible = false;
        plan = PlanZ2Save(in, udp_->Store());
    } else {
        plan = PlanZ3Save(MakeZ3SaveInput(*wanted), udp_->Store());
    }
    if (!plan.Ok) {
        refuse(TError{FieldOfSaveError(plan.Error.Field), plan.Error.Text, plan.Error.Message});
        return;
    }
    // Never write a block the module did not send in the read (whatever its firmware says).
    std::erase_if(plan.Steps, [&](const TSaveStep& s) {
        return (s.Code == CmdWriteCloud && !wanted->HasCloud) ||
               (s.Code == CmdWriteHeart && !wanted->HasHeart) ||
               ((s.Code == CmdWriteHttpdUrl || s.Code == CmdWriteHttpdHeader) && !wanted->HasHttpd);
    });
    RunSavePlan(plan);
}

} // namespace varnix
