#include "ui/main/fleet_view.h"

#include "core/convert.h"
#include "core/types.h"
#include "lan/lan_protocol.h"
#include "lang/app_lang.h"

#include <algorithm>
#include <set>

namespace varnix {

namespace {

QString Text(const char* key) {
    return GetLangText(QString::fromLatin1(key));
}

} // namespace

QString FindingTip(const THealthFinding& f, const std::vector<TDeviceRow>& rows,
                   const std::vector<THealthBinding>& bindings) {
    const QString text = Text(HealthKindTextKey(f.Kind));
    switch (f.Kind) {
    case THealthKind::TwoAdapters: {
        QStringList locals;
        for (const int r : f.Rows) {
            const int b = rows[static_cast<std::size_t>(r)].Binding;
            locals << (b >= 0 && b < static_cast<int>(bindings.size())
                           ? QString::fromStdString(bindings[static_cast<std::size_t>(b)].Address)
                           : QString::number(b));
        }
        return text.arg(locals.join(QStringLiteral(", ")));
    }
    case THealthKind::OutsideSubnet:
        return text.arg(QString::fromStdString(f.Subject), QString::fromStdString(f.Local));
    case THealthKind::DuplicateName:
        return text.arg(QString::fromUtf8(f.Subject));
    default:
        return text.arg(QString::fromStdString(f.Subject));
    }
}

TSearchHealth::TSearchHealth(TEnv env, QObject* parent) : QObject(parent), env_(std::move(env)) {
    settle_.setSingleShot(true);
    settle_.setInterval(SettleMs);
    connect(&settle_, &QTimer::timeout, this, &TSearchHealth::Check);
}

void TSearchHealth::SearchStarted() {
    env_.Devices->SetMarks({});
    settle_.start();
}

void TSearchHealth::RowAdded() {
    // While replies come, the checks wait for them to settle; a reply that comes after the checks
    // ran (a module slow to answer) has them run again once it has settled.
    settle_.start();
}

void TSearchHealth::Check() {
    settle_.stop();
    env_.Devices->Flush();
    const std::vector<TDeviceRow>& rows = env_.Devices->Rows();
    const std::vector<THealthBinding> bindings =
        env_.Bindings ? env_.Bindings() : std::vector<THealthBinding>{};
    if (rows.empty()) {
        QStringList tried;
        for (const THealthBinding& b : bindings)
            tried << QString::fromStdString(b.Address);
        if (tried.isEmpty())
            env_.Log(Text("lang_Search_NoAddress"), true);
        else
            env_.Log(Text("lang_Search_NoAnswer")
                         .arg(tried.join(QStringLiteral(", ")), env_.Destination)
                         .arg(PortZ2),
                     true);
        env_.Log(Text("lang_Search_CauseFirewall")
                     .arg(QString::fromLatin1(FirewalldAllowCommand), QString::fromLatin1(UfwAllowCommand)),
                 true);
        env_.Log(Text("lang_Search_CauseAdapter"), true);
        return;
    }
    std::vector<THealthModule> modules;
    for (const TDeviceRow& r : rows)
        modules.push_back(THealthModule{r.IP.toStdString(), r.Name.toStdString(), r.Mac.toStdString(),
                                        r.Version.toInt(), r.Family, r.Binding});
    const auto findings = RunHealthChecks(modules, bindings);
    std::vector<QString> marks(rows.size());
    std::set<int> marked;
    for (const THealthFinding& f : findings) {
        const QString tip = FindingTip(f, rows, bindings);
        for (const int r : f.Rows) {
            QString& m = marks[static_cast<std::size_t>(r)];
            m += (m.isEmpty() ? QString() : QStringLiteral("\n")) + tip;
            marked.insert(r);
        }
    }
    env_.Devices->SetMarks(std::move(marks));
    if (findings.empty())
        env_.Log(Text("lang_Check_Clean").arg(rows.size()), false);
    else
        env_.Log(Text("lang_Check_Summary").arg(findings.size()).arg(marked.size()), true);
}

} // namespace varnix
