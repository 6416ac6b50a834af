// The pages as views of the field catalogue, table-driven over every field a page holds: what a
// show writes reads back as the same value, a value typed over it reads as that value, a text
// that is no value is refused naming its field, and a cleared page keeps nothing of the module.

#include "fake_host.h"
#include "page_modules.h"

#include "core/blocks.h"
#include "lang/app_lang.h"
#include "model/z1_fields.h"
#include "ui/main/pages/page_binding.h"
#include "ui/main/pages/z1_page.h"
#include "ui/main/pages/z2_page.h"
#include "ui/main/pages/z3_page.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace varnix;
using namespace varnix::pagetest;

namespace {

// Both pages behind one interface, so that each case runs for the Z2 and the Z3 page.
struct TPageCase {
    const char* Name;
    unsigned Family;
    TModuleSettings (*Module)();
    TModuleSettings (*Typed)();
};
void PrintTo(const TPageCase& c, std::ostream* os) {
    *os << c.Name;
}
const TPageCase Cases[] = {{"Z2", FamZ2, &Z2Module, &Z2ModuleTyped},
                           {"Z3", FamZ3, &Z3Module, &Z3ModuleTyped}};

class TAnyPage {
public:
    TAnyPage(TFakeHost& host, unsigned family) {
        if (family == FamZ2)
            z2_ = std::make_unique<TZ2Page>(host);
        else
            z3_ = std::make_unique<TZ3Page>(host);
    }
    QWidget* Widget() { return z2_ ? static_cast<QWidget*>(z2_.get()) : z3_.get(); }
    void Show(const TModuleSettings& s) { z2_ ? z2_->ShowSettings(s) : z3_->ShowSettings(s); }
    TResult<TModuleSettings> Read(const TModuleSettings& s) {
        return z2_ ? z2_->ReadSettings(s) : z3_->ReadSettings(s);
    }
    void Clear() { z2_ ? z2_->ClearSettings() : z3_->ClearSettings(); }

private:
    std::unique_ptr<TZ2Page> z2_;
    std::unique_ptr<TZ3Page> z3_;
};

std::string Name(const TBinding& b) {
    return b.Field->Name.toStdString();
}

// `before` with every field of the page that a save writes set to its value in `typed`, in table
// order (a Hex switch before its data).
TModuleSettings Expected(const TModuleSettings& before, const TModuleSettings& typed,
                         const std::vector<TBinding>& bindings) {
    TModuleSettings out = before;
    for (const TBinding& b : bindings)
        if (FieldWritable(*b.Field, before))
            b.Field->Set(out, b.Field->Get(typed));
    return out;
}

class PageCatalogue : public ::testing::TestWithParam<TPageCase> {
protected:
    void SetUp() override { SetChinese(false); }
    TFakeHost host;
};

} // namespace

TEST_P(PageCatalogue, EveryFieldWithAControlIsBoundToIt) {
    TAnyPage page(host, GetParam().Family);
    const TPageBinding view(page.Widget(), GetParam().Family);
    std::size_t expected = 0;
    for (const TFieldDef& f : FieldTable())
        expected += !(GetParam().Family == FamZ2 ? f.Z2Control : f.Z3Control).isEmpty();
    // A control missing from the form, or of a kind that cannot hold its field, is not bound.
    EXPECT_EQ(view.Bindings().size(), expected);
    for (const TBinding& b : view.Bindings())
        if (!b.Field->LabelKey.isEmpty()) {
            EXPECT_NE(Context().Text(b.Field->LabelKey), b.Field->LabelKey) << Name(b);
        }
}

TEST_P(PageCatalogue, ShownValuesReadBackAndTypedValuesReadAsTyped) {
    const TModuleSettings module = GetParam().Module();
    const TModuleSettings typed = GetParam().Typed();
    TAnyPage page(host, GetParam().Family);
    const TPageBinding view(page.Widget(), GetParam().Family);

    // Untouched, the page gives the module's settings back unchanged.
    page.Show(module);
    const TResult<TModuleSettings> same = page.Read(module);
    ASSERT_TRUE(same) << same.Error().Message;
    EXPECT_EQ(*same, module);

    // Every control takes another value the way the page would show it, so that reading parses
    // each one (a control left as shown would give the module's value back unread).
    std::vector<QString> shown;
    for (const TBinding& b : view.Bindings())
        shown.push_back(ControlState(b));
    for (const TBinding& b : view.Bindings())
        ShowValue(b, b.Field->Get(typed));
    for (std::size_t i = 0; i < view.Bindings().size(); ++i) {
        const TBinding& b = view.Bindings()[i];
        if (FieldWritable(*b.Field, module)) {
            EXPECT_NE(ControlState(b), shown[i]) << Name(b) << " has the same value in both modules";
        }
    }
    const TResult<TModuleSettings> read = page.Read(module);
    ASSERT_TRUE(read) << read.Error().Message;
    const TModuleSettings expected = Expected(module, typed, view.Bindings());
    for (const TBinding& b : view.Bindings()) {
        EXPECT_EQ(b.Field->Get(*read), b.Field->Get(expected)) << Name(b);
        // Fields a save only keeps (a Z2 module's TCP style) stay as the module reported them.
        if (!FieldWritable(*b.Field, module)) {
            EXPECT_EQ(b.Field->Get(*read), b.Field->Get(module)) << Name(b);
        }
    }
    EXPECT_EQ(*read, expected);
}

TEST_P(PageCatalogue, ATextThatIsNoValueIsRefusedNamingItsField) {
    const TModuleSettings module = GetParam().Module();
    TAnyPage page(host, GetParam().Family);
    const TPageBinding view(page.Widget(), GetParam().Family);
    int checked = 0;
    for (const TBinding& b : view.Bindings()) {
        const TFieldDef& f = *b.Field;
        if (b.Kind != TControlKind::Edit || !FieldWritable(f, module))
            continue;
        auto* edit = static_cast<QLineEdit*>(b.Control);
        std::vector<QString> bad;
        if (f.Kind == TFieldKind::Int || f.Kind == TFieldKind::Enum || f.Kind == TFieldKind::IPv4 ||
            f.Kind == TFieldKind::Mac)
            bad.push_back(QStringLiteral("x1"));
        if (f.Kind == TFieldKind::Int || f.Kind == TFieldKind::Enum) {
            const std::int64_t above =
                f.Kind == TFieldKind::Enum
                    ? f.Items.back().Value + 1
                    : (GetParam().Family == FamZ3 && f.MaxZ3 >= 0 ? f.MaxZ3 : f.Max) + 1;
            bad.push_back(QString::number(above));
        }
        if (f.Kind == TFieldKind::IPv4)
            bad.push_back(QStringLiteral("10.0.0.256"));
        if (f.Kind == TFieldKind::Text || f.Kind == TFieldKind::Data)
            bad.push_back(QString(static_cast<int>(f.Max) + 1, QLatin1Char('w')));
        for (const QString& text : bad) {
            page.Show(module);
            edit->setMaxLength(32767); // the form's own limit would hide the catalogue's
            edit->setText(text);
            const TResult<TModuleSettings> r = page.Read(module);
            ASSERT_FALSE(r) << Name(b) << " = " << text.toStdString();
            EXPECT_EQ(r.Error().Field, Name(b)) << text.toStdString();
            EXPECT_EQ(r.Error().Text, text.toStdString()) << Name(b);
            EXPECT_FALSE(r.Error().Message.empty());
            ++checked;
        }
        page.Clear();
    }
    EXPECT_GE(checked, GetParam().Family == FamZ2 ? 20 : 14);
}

TEST_P(PageCatalogue, ClearedPageKeepsNothingOfTheModule) {
    const TModuleSettings module = GetParam().Module();
    TAnyPage page(host, GetParam().Family);
    const TPageBinding view(page.Widget(), GetParam().Family);
    page.Show(module);
    page.Clear();
    for (const TBinding& b : view.Bindings()) {
        const QString state = ControlState(b);
        EXPECT_TRUE(state.isEmpty() || state == QStringLiteral("0") || state == QStringLiteral("-1\n"))
            << Name(b) << ": " << state.toStdString();
    }
    // Not editable and not savable until the next module is shown; nothing to read.
    const QString save =
        GetParam().Family == FamZ2 ? QStringLiteral("btn_Z2NetSet") : QStringLiteral("btn_Z3NetSet");
    EXPECT_FALSE(page.Widget()->findChild<QPushButton*>(save)->isEnabled());
    EXPECT_FALSE(view.Bindings().front().Control->isEnabled());
    EXPECT_FALSE(page.Read(module));

    // The next module: what it did not report stays empty and cannot be edited.
    TModuleSettings other = GetParam().Typed();
    other.HasCloud = other.HasHeart = other.HasHttpd = false;
    other.ModbusKind = 0;
    page.Show(other);
    EXPECT_TRUE(page.Widget()->findChild<QPushButton*>(save)->isEnabled());
    for (const TBinding& b : view.Bindings()) {
        if (FieldShown(*b.Field, other))
            continue;
        EXPECT_FALSE(b.Control->isEnabled()) << Name(b);
        const QString state = ControlState(b);
        EXPECT_TRUE(state.isEmpty() || state == QStringLiteral("0") || state == QStringLiteral("-1\n"))
            << Name(b) << ": " << state.toStdString();
    }
    const TResult<TModuleSettings> r = page.Read(other);
    ASSERT_TRUE(r) << r.Error().Message;
    EXPECT_EQ(*r, other);
}

INSTANTIATE_TEST_SUITE_P(Pages, PageCatalogue, ::testing::ValuesIn(Cases),
                         [](const ::testing::TestParamInfo<TPageCase>& info) {
                             return std::string(info.param.Name);
                         });

// --- The Z1 page over the Z1 table ---

TEST(Z1Catalogue, ShownBodyReadsBackAndBadTextsAreRefusedNamingTheField) {
    SetChinese(false);
    TFakeHost host;
    TZ1Page page(host);
    page.ApplyTexts();
    TZ1Params p;
    p.DestIP = "192.168.0.201";
    p.DestPort = 8234;
    p.ModuleIP = "192.168.0.7";
    p.ModulePort = 20108;
    p.GatewayIP = "192.168.0.1";
    p.WorkMode = 1;
    p.BaudRate = 76800;
    p.ParityIndex = 2;
    p.DataIndex = 2;
    p.StopIndex = 1;
    p.DeviceID = 65535;
    p.Options = 0x85;
    p.SubnetMask = "255.255.255.0";
    page.ShowZ1(p);
    TResult<TZ1Params> back = page.ReadZ1();
    ASSERT_TRUE(back) << back.Error().Message;
    EXPECT_EQ(*back, p);

    // An empty device ID is read (and shown) as 0; one above 65535 is refused, not cut to 16 bits.
    auto* id = page.findChild<QLineEdit*>(QStringLiteral("edt_ID"));
    id->clear();
    back = page.ReadZ1();
    ASSERT_TRUE(back);
    EXPECT_EQ(back->DeviceID, 0);
    EXPECT_EQ(id->text(), QStringLiteral("0"));

    struct Bad {
        const char* control;
        const char* text;
        const char* field;
    };
    const Bad bad[] = {{"edt_DePort", "", "RemotePort"},    {"edt_ModulePort", "x", "LocalPort"},
                       {"edt_DeIP", "1.a.3.4", "RemoteIP"}, {"edt_Mask", "255.x", "SubnetMask"},
                       {"edt_ID", "70000", "DeviceID"},     {"edt_ModuleIP", "1.2.3", "StaticIP"}};
    for (const Bad& x : bad) {
        page.ShowZ1(p);
        auto* edit = page.findChild<QLineEdit*>(QString::fromLatin1(x.control));
        edit->setMaxLength(32767);
        edit->setText(QString::fromLatin1(x.text));
        const TResult<TZ1Params> r = page.ReadZ1();
        ASSERT_FALSE(r) << x.control;
        EXPECT_EQ(r.Error().Field, x.field);
    }
    page.ShowZ1(p);
    auto* baud = page.findChild<QComboBox*>(QStringLiteral("cbb_BaudRate"));
    baud->setItemText(0, QStringLiteral("fast"));
    baud->setCurrentIndex(0);
    ASSERT_FALSE(page.ReadZ1());
    EXPECT_EQ(page.ReadZ1().Error().Field, "BaudRate");
}
