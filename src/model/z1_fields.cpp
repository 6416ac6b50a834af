#include "model/z1_fields.h"

namespace varnix {

namespace {

using P = TZ1Params;

TZ1Field Field(const char* name, TFieldKind kind, std::int64_t min, std::int64_t max, const char* help,
               std::function<QJsonValue(const P&)> get, std::function<void(P&, const QJsonValue&)> set) {
    TZ1Field f;
    f.Def.Name = QString::fromLatin1(name);
    f.Def.Group = TFieldGroup::Port;
    f.Def.Kind = kind;
    f.Def.Min = min;
    f.Def.Max = max;
    f.Def.Help = QString::fromLatin1(help);
    f.Get = std::move(get);
    f.Set = std::move(set);
    return f;
}

TZ1Field Ip(const char* name, const char* help, std::string P::*member) {
    return Field(
        name, TFieldKind::IPv4, 0, 0, help,
        [member](const P& p) { return QJsonValue(QString::fromStdString(p.*member)); },
        [member](P& p, const QJsonValue& v) { p.*member = v.toString().toStdString(); });
}

TZ1Field Number(const char* name, std::int64_t min, std::int64_t max, const char* help, int P::*member,
                int offset = 0) {
    return Field(
        name, TFieldKind::Int, min, max, help,
        [member, offset](const P& p) { return QJsonValue(p.*member + offset); },
        [member, offset](P& p, const QJsonValue& v) { p.*member = v.toInt() - offset; });
}

TZ1Field Option(const char* name, int bit, const char* help) {
    return Field(
        name, TFieldKind::Bool, 0, 1, help,
        [bit](const P& p) { return QJsonValue(((p.Options >> bit) & 1) != 0); },
        [bit](P& p, const QJsonValue& v) {
            const auto mask = static_cast<std::uint8_t>(1u << bit);
            p.Options = static_cast<std::uint8_t>(v.toBool() ? (p.Options | mask) : (p.Options & ~mask));
        });
}

TEnumItem Item(int value, std::initializer_list<const char*> names) {
    TEnumItem it;
    it.Value = value;
    for (const char* n : names)
        it.Names << QString::fromLatin1(n);
    return it;
}

// Where each field sits on the Z1 page and the text key of its label.
void SetZ1Controls(std::vector<TZ1Field>& table) {
    struct TControl {
        const char* Field;
        const char* Control;
        const char* Label;
    };
    static constexpr TControl controls[] = {
        {"StaticIP", "edt_ModuleIP", "lang_lbl_ModuleIP"},
        {"SubnetMask", "edt_Mask", "lang_Lbl_SubnetMask"},
        {"GatewayIP", "edt_Gateway", "lang_Lbl_Gateway"},
        {"LocalPort", "edt_ModulePort", "lang_Lbl_LocalPort"},
        {"WorkMode", "cbb_ModuleWork", "lang_Lbl_WorkMode"},
        {"RemoteIP", "edt_DeIP", "lang_lbl_DeIP"},
        {"RemotePort", "edt_DePort", "lang_Lbl_RemotePort"},
        {"BaudRate", "cbb_BaudRate", "lang_Lbl_Baudrate"},
        {"DataBits", "cbb_D", "lang_Lbl_PDS"},
        {"Parity", "cbb_P", "lang_Lbl_PDS"},
        {"StopBits", "cbb_S", "lang_Lbl_PDS"},
        {"DeviceID", "edt_ID", "lang_Lbl_DevID"},
        {"ConnSendId", "chk_ConnSendId", "lang_chk_ConnSendId"},
        {"DataWithId", "chk_DataWithId", "lang_chk_DataWithId"},
        {"RS485", "chk_RS485", nullptr},
        {"RS422", "chk_RS422", nullptr},
        {"OptionReset", "chk_Reset", nullptr},
        {"OptionLink", "chk_Link", nullptr},
        {"OptionIndex", "chk_Index", nullptr},
        {"OptionRFC2217", "chk_RFC2217", nullptr},
    };
    for (const TControl& c : controls)
        for (TZ1Field& f : table)
            if (f.Def.Name == QLatin1String(c.Field)) {
                f.Control = QString::fromLatin1(c.Control);
                f.Def.LabelKey = c.Label != nullptr ? QString::fromLatin1(c.Label) : QString();
            }
}

std::vector<TZ1Field> Build() {
    std::vector<TZ1Field> t;
    t.push_back(Ip("StaticIP", "the module's address", &P::ModuleIP));
    t.push_back(Ip("SubnetMask", "subnet mask", &P::SubnetMask));
    t.push_back(Ip("GatewayIP", "gateway", &P::GatewayIP));
    t.push_back(Number("LocalPort", 0, 65535, "the module's own port", &P::ModulePort));
    TZ1Field mode = Number("WorkMode", 0, 3, "work mode", &P::WorkMode);
    mode.Def.Kind = TFieldKind::Enum;
    mode.Def.Items = {Item(0, {"UDP Mode", "UDP"}), Item(1, {"TCP Client"}), Item(2, {"UDP Server"}),
                      Item(3, {"TCP Server"})};
    t.push_back(mode);
    t.push_back(Ip("RemoteIP", "destination address (UDP Mode and TCP Client)", &P::DestIP));
    t.push_back(Number("RemotePort", 0, 65535, "destination port", &P::DestPort));
    t.push_back(Field(
        "BaudRate", TFieldKind::Int, 1, 0xFFFFFF, "serial bits per second (3 bytes on the wire)",
        [](const P& p) { return QJsonValue(static_cast<qint64>(p.BaudRate)); },
        [](P& p, const QJsonValue& v) { p.BaudRate = static_cast<std::uint32_t>(v.toInteger()); }));
    t.push_back(Number("DataBits", 5, 8, "data bits", &P::DataIndex, 5));
    TZ1Field parity = Number("Parity", 1, 5, "parity", &P::ParityIndex, 1);
    parity.Def.Kind = TFieldKind::Enum;
    parity.Def.Items = {Item(1, {"NONE"}), Item(2, {"ODD"}), Item(3, {"EVEN"}), Item(4, {"MARK"}),
                        Item(5, {"SPACE"})};
    t.push_back(parity);
    t.push_back(Number("StopBits", 1, 2, "stop bits", &P::StopIndex, 1));
    t.push_back(Number("DeviceID", 0, 65535, "device ID", &P::DeviceID));
    t.push_back(Option("ConnSendId", 0, "send the device ID on connecting"));
    t.push_back(Option("DataWithId", 1, "send the device ID with data"));
    t.push_back(Option("RS485", 2, "RS-485"));
    t.push_back(Option("RS422", 3, "RS-422"));
    t.push_back(Option("OptionReset", 4, "option bit 4: Reset"));
    t.push_back(Option("OptionLink", 5, "option bit 5: Link"));
    t.push_back(Option("OptionIndex", 6, "option bit 6: Index"));
    t.push_back(Option("OptionRFC2217", 7, "option bit 7: RFC2217"));
    SetZ1Controls(t);
    return t;
}

} // namespace

const std::vector<TZ1Field>& Z1FieldTable() {
    static const std::vector<TZ1Field> table = Build();
    return table;
}

const TZ1Field* FindZ1Field(const QString& name) {
    for (const TZ1Field& f : Z1FieldTable())
        if (f.Def.Name.compare(name, Qt::CaseInsensitive) == 0)
            return &f;
    return nullptr;
}

} // namespace varnix
