// Any file given to `varnix-cli provision`: the sheet parser must accept every byte sequence,
// and every row it accepts must hold a canonical MAC and values in range, which then apply and
// plan without a crash.
#include "cli/sheet.h"
#include "engine/save_prepare.h"
#include "fuzz_cli_common.h"

#include <cstdint>
#include <cstdlib>

using namespace varnix;
using namespace varnix::cli;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QStringList errors;
    const auto sheet = ParseSheet(bytes, &errors);
    if (!sheet) {
        if (errors.isEmpty())
            std::abort(); // a refusal always says why
        return 0;
    }
    TModuleSettings module;
    TBlockStore store;
    fuzz::FullModule(module, store);
    for (const TSheetRow& row : sheet->Rows) {
        if (row.Mac.size() != 17)
            std::abort();
        for (const TAssignment& a : row.Assignments)
            if (!CheckRange(*a.Field, a.Value, FamBoth))
                std::abort();
        (void)PrepareSave(module, store, row.Assignments);
    }
    return 0;
}
