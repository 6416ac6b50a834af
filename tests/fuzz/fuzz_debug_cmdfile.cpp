// Parses arbitrary bytes as a command-list file; every row it reads must survive being written
// and read again unchanged.
#include "debug/cmd_file.h"
#include "lang/text_codec.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace varnix;
    if (size > static_cast<std::size_t>(CmdFileMaxBytes))
        return 0;
    const QString text = FileBytesToText(std::string_view(reinterpret_cast<const char*>(data), size));
    const TCmdFileContent content = ParseCmdFile(text);
    if (content.Rows.size() > static_cast<std::size_t>(CmdRowCount))
        std::abort();
    std::vector<TCmdRow> rows;
    for (const auto& r : content.Rows)
        if (r)
            rows.push_back(*r);
    const TCmdFileContent again = ParseCmdFile(FormatCmdFile(rows));
    if (again.Rows.size() != rows.size())
        std::abort();
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (!again.Rows[i] || !(*again.Rows[i] == rows[i]))
            std::abort();
    return 0;
}
