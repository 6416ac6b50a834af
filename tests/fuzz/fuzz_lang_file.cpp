// Reads arbitrary bytes as Lang.txt and looks texts up in the result.
#include "lang/lang_list.h"
#include "lang/text_codec.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace varnix;
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    TLangList list;
    list.AddText(QStringLiteral("lang_Menu_File"), QStringLiteral("File-cn"), QStringLiteral("File"));
    list.ReadLangData(bytes);
    if (list.FileNames.size() != list.FileCn.size() || list.FileNames.size() != list.FileEn.size())
        std::abort();
    for (qsizetype i = 0; i < list.FileNames.size() && i < 8; ++i) {
        // The text of a row's own name is that row's text, or an earlier row's.
        if (list.FileNames[i].contains(u'|'))
            std::abort();
        list.IsChinese = (i % 2) == 0;
        (void)list.GetText(list.FileNames[i]);
        (void)list.GetText(list.FileEn[i]);
    }
    // A row written back and parsed again keeps its name and texts.
    const QString text = BytesToDisplay(std::string_view(reinterpret_cast<const char*>(data), size));
    const TLangFields f = ParseLangLine(text);
    if (f.Name.contains(u'|') || f.Cn.contains(u'|') || f.En.contains(u'|'))
        std::abort();
    (void)DisplayToBytes(text);
    return 0;
}
