// Parses arbitrary bytes as Cfg.ini, then sets keys and checks that the file reads them back.
#include "app/settings.h"
#include "app/settings_ini.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace varnix;
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    TIniDocument doc = TIniDocument::FromBytes(bytes);
    for (const TSettingDef& d : SettingsTable()) {
        if (auto v = doc.Value(IniSection, d.Key))
            (void)ParseIniInteger(*v);
    }
    // A value taken from the input itself (its first bytes), set and read back.
    QString value = QString::fromLatin1(bytes.first(std::min<qsizetype>(bytes.size(), 12)));
    doc.SetValue(IniSection.toString(), QStringLiteral("Password"), value);
    doc.SetValue(IniSection.toString(), QStringLiteral("Language"), QStringLiteral("1"));
    const TIniDocument again = TIniDocument::FromBytes(doc.ToBytes());
    value.replace(u'\r', u' ');
    value.replace(u'\n', u' ');
    if (again.Value(IniSection, u"Language") != QStringLiteral("1"))
        std::abort();
    if (again.Value(IniSection, u"Password") != value.trimmed())
        std::abort();
    return 0;
}
