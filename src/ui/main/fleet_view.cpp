#include "ui/main/fleet_view.h"

#include "core/convert.h"
#include "core/types.h"
#include "lan/lan_protocol.h"

#include <algorithm>
#include <memory>

namespace varnix {

QString RowTip(const TTexts& texts, std::uint8_t kinds, int row, const std::vector<TDeviceRow>& rows,
               const std::vector<THealthBinding>& bindings) {
    const TDeviceRow& r = rows.at(static_cast<std::size_t>(row));
    const auto address = [&bindings](int b) {
        return b >= 0 && b < static_cast<int>(bindings.size())
                   ? QString::fromStdString(bindings[static_cast<std::size_t>(b)].Address)
                   : QString::number(b);
    };
    QStringList lines;
    for (int k = 0; k <= static_cast<int>(THealthKind::DuplicateName); ++k) {
        if (!(kinds & (1u << k)))
            continue;
        const auto kind = static_cast<THealthKind>(k);
        const QString text = texts.Text(HealthKindTextKey(kind));
        switch (kind) {
        case THealthKind::TwoAdapters: {
            // The adapters of every row of this module, in list order.
            QStringList locals;
            const std::string key = MacKey(r.Mac.toStdString());
            for (const TDeviceRow& other : rows)
                if (MacKey(other.Mac.toStdString()) == key)
                    locals << address(other.Binding);
            lines << text.arg(locals.join(QStringLiteral(", ")));
            break;
        }
        case THealthKind::OutsideSubnet: {
            const auto b = static_cast<std::size_t>(r.Binding);
            lines << text.arg(r.IP, b < bindings.size() ? QString::fromStdString(bindings[b].Address + "/" +
                                                                                 bindings[b].Netmask)
                                                        : QString());
            break;
        }
        case THealthKind::IncompatibleFirmware:
            lines << text.arg(r.Version.toInt());
            break;
        case THealthKind::DuplicateName:
            lines << text.arg(r.Name);
            break;
        case THealthKind::DuplicateIp:
            lines << text.arg(r.IP);
            break;
        }
    }
    return lines.join(u'\n');
}

TSearchHealth::TSearchHealth(TEnv env, QObject* parent) : QObject(parent), env_(std::move(env)) {
    settle_.setSingleShot(true);
    settle_.setInterval(SettleMs);
    connect(&settle_, &QTimer::timeout, this, &TSearchHealth::Check);
}

TSearchHealth::~TSearchHealth() {
    if (worker_.joinable())
        worker_.join();
}

void TSearchHealth::SearchStarted() {
    ++generation_;
    env_.Devices->SetMarks({}, {});
    settle_.start();
}

void TSearchHealth::RowAdded() {
    // While replies come, the checks wait for them to settle; a reply that comes after the checks
    // ran (a module slow to answer) has them run again once it has settled.
    settle_.start();
}

void TSearchHealth::ReportNoAnswer(const std::vector<THealthBinding>& bindings) {
    QStringList tried;
    for (const THealthBinding& b : bindings)
        tried << QString::fromStdString(b.Address);
    if (tried.isEmpty())
        env_.Log(env_.Texts.Text("lang_Search_NoAddress"), true);
    else
        env_.Log(env_.Texts.Text("lang_Search_NoAnswer")
                     .arg(tried.join(QStringLiteral(", ")), env_.Destination)
                     .arg(PortZ2),
                 true);
    env_.Log(env_.Texts.Text("lang_Search_CauseFirewall")
                 .arg(QString::fromLatin1(FirewalldAllowCommand), QString::fromLatin1(UfwAllowCommand)),
             true);
    env_.Log(env_.Texts.Text("lang_Search_CauseAdapter"), true);
}

TSearchHealth::TResult TSearchHealth::RunChecks(std::vector<TDeviceRow> rows,
                                                const std::vector<THealthBinding>& bindings) {
    std::vector<THealthModule> modules;
    modules.reserve(rows.size());
    for (const TDeviceRow& r : rows)
        modules.push_back(THealthModule{r.IP.toStdString(), r.Name.toStdString(), r.Mac.toStdString(),
                                        r.Version.toInt(), r.Family, r.Binding});
    rows = {};
    TResult out;
    out.Kinds.assign(modules.size(), 0);
    // Only which kinds each row has is kept; the tooltips are made from the rows when shown.
    VisitHealthFindings(modules, bindings, [&out](THealthFinding&& f) {
        ++out.Findings;
        for (const int r : f.Rows)
            out.Kinds[static_cast<std::size_t>(r)] |=
                static_cast<std::uint8_t>(1u << static_cast<int>(f.Kind));
    });
    return out;
}

void TSearchHealth::Check() {
    settle_.stop();
    env_.Devices->Flush();
    std::vector<THealthBinding> bindings = env_.Bindings ? env_.Bindings() : std::vector<THealthBinding>{};
    if (env_.Devices->Rows().empty()) {
        ReportNoAnswer(bindings);
        emit Checked();
        return;
    }
    const std::uint64_t generation = ++generation_;
    if (worker_.joinable())
        worker_.join();
    // The worker has its own copy of the rows (the strings are shared, not copied) and hands the
    // result back to this thread by a queued call; the destructor joins it, so the call never
    // reaches a destroyed object.
    if (searched_)
        searched_(env_.Devices->Rows());
    worker_ = std::thread([this, generation, rows = env_.Devices->Rows(), bindings]() mutable {
        TResult result = RunChecks(std::move(rows), bindings);
        QMetaObject::invokeMethod(
            this,
            [this, generation, result = std::move(result), bindings = std::move(bindings)]() mutable {
                Apply(generation, std::move(result), std::move(bindings));
            },
            Qt::QueuedConnection);
    });
}

void TSearchHealth::Apply(std::uint64_t generation, TResult result, std::vector<THealthBinding> bindings) {
    if (generation != generation_)
        return; // the list was cleared or is being checked again
    std::vector<bool> marked(result.Kinds.size());
    std::size_t markedCount = 0;
    for (std::size_t r = 0; r < marked.size(); ++r)
        if (result.Kinds[r] != 0) {
            marked[r] = true;
            ++markedCount;
        }
    const auto kinds = std::make_shared<const std::vector<std::uint8_t>>(std::move(result.Kinds));
    TDeviceListModel* devices = env_.Devices;
    env_.Devices->SetMarks(
        std::move(marked), [kinds, devices, texts = env_.Texts, bindings = std::move(bindings)](int row) {
            return RowTip(texts, (*kinds)[static_cast<std::size_t>(row)], row, devices->Rows(), bindings);
        });
    if (result.Findings == 0)
        env_.Log(env_.Texts.Text("lang_Check_Clean").arg(kinds->size()), false);
    else
        env_.Log(env_.Texts.Text("lang_Check_Summary").arg(result.Findings).arg(markedCount), true);
    emit Checked();
}

} // namespace varnix
