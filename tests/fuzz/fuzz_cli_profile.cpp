// Any file given to `varnix-cli profile apply`: the reader must accept every byte sequence. An
// accepted profile is applied to a module and planned; the module's resulting settings written
// as a profile must read back.
#include "engine/save_prepare.h"
#include "fuzz_cli_common.h"
#include "model/profile.h"

#include <cstdint>
#include <cstdlib>

using namespace varnix;
using namespace varnix::cli;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QStringList errors;
    const auto profile = ReadProfile(bytes, &errors);
    if (!profile) {
        if (errors.isEmpty())
            std::abort();
        return 0;
    }
    TModuleSettings module;
    TBlockStore store;
    fuzz::FullModule(module, store);
    const TProfileApplication a = SelectForModule(*profile, module, true);
    const TPreparedSave p = PrepareSave(module, store, a.Applied, TPrepareMode::Lenient);
    if (p.Ok) {
        const auto again = ReadProfile(WriteProfile(p.After, {}), &errors);
        if (!again)
            std::abort();
    }
    return 0;
}
