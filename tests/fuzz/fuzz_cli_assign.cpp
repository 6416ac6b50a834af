// NAME=VALUE arguments of `varnix-cli set`, one per input line. Every accepted value shows as
// text that parses back to the same value, and the accepted set applies and plans.
#include "engine/save_prepare.h"
#include "fuzz_cli_common.h"
#include "model/fields.h"

#include <cstdint>
#include <cstdlib>

using namespace varnix;
using namespace varnix::cli;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QList<TAssignment> list;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const TResult<TAssignment> a = ParseAssignment(line);
        if (!a) {
            if (a.Error().Message.empty())
                std::abort();
            continue;
        }
        const TFieldDef& f = *a->Field;
        if (f.Kind == TFieldKind::Int || f.Kind == TFieldKind::IPv4 || f.Kind == TFieldKind::Mac) {
            const QString shown =
                f.Kind == TFieldKind::Int ? QString::number(a->Value.toInteger()) : a->Value.toString();
            const TResult<QJsonValue> back = ParseFieldText(f, shown);
            if (!back || *back != a->Value)
                std::abort();
        }
        list << *a;
    }
    TModuleSettings module;
    TBlockStore store;
    fuzz::FullModule(module, store);
    const TPreparedSave p = PrepareSave(module, store, list);
    if (p.Ok && !CompareReadBack(p, p.After).isEmpty())
        std::abort();
    return 0;
}
