#include "ui/main/pages/page_binding.h"

#include "lang/app_lang.h"
#include "lang/text_codec.h"
#include "model/page_rules.h"
#include "ui/common/prompts.h"
#include "ui/main/pages/page_common.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace varnix {

namespace {

// Values reach here from the catalogue's getters (whole numbers) or its parser.
int IntOf(const QJsonValue& v) {
    return static_cast<int>(v.toDouble());
}

QJsonValue Number(std::int64_t n) {
    return QJsonValue(static_cast<double>(n));
}

// The item position of an Enum value, or -1 when no item has it.
int ItemOf(const TFieldDef& f, const QJsonValue& v) {
    for (std::size_t i = 0; i < f.Items.size(); ++i)
        if (f.Items[i].Value == IntOf(v))
            return static_cast<int>(i);
    return -1;
}

TError Refused(const TFieldDef& f, const QString& text, const QString& why) {
    return FieldError(f.Name.toStdString(), text.toStdString(), why.toStdString());
}
// The catalogue's refusal with the control's text as the user sees it.
TError AsShown(const TError& e, const QString& text) {
    return TError{e.Field, text.toStdString(), e.Message};
}

// The catalogue's text of a value for a line edit: numbers in decimal, switches as 1/0.
QString EditText(const TFieldDef& f, const QJsonValue& v) {
    switch (f.Kind) {
    case TFieldKind::Int:
    case TFieldKind::Enum:
        return QString::number(static_cast<qint64>(v.toDouble()));
    case TFieldKind::Bool:
        return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    default:
        return v.toString();
    }
}

// Parses a text with the catalogue and checks it for the family (and a Data field's hex switch).
TResult<QJsonValue> ParseChecked(const TFieldDef& f, const QString& text, unsigned families, bool hex) {
    const TResult<QJsonValue> v = ParseFieldText(f, text);
    if (!v)
        return v;
    TStatus ok = CheckRange(f, *v, families);
    if (ok && f.Kind == TFieldKind::Data)
        ok = CheckDataValue(f, *v, hex);
    if (!ok)
        return AsShown(ok.Error(), text);
    return v;
}

TResult<QJsonValue> ReadCombo(const TBinding& b, unsigned families) {
    const TFieldDef& f = *b.Field;
    const auto* combo = static_cast<const QComboBox*>(b.Control);
    const int index = combo->currentIndex();
    if (index < 0)
        return Refused(f, QString(), QStringLiteral("nothing is selected"));
    if (f.Kind == TFieldKind::Enum) {
        if (static_cast<std::size_t>(index) >= f.Items.size())
            return Refused(f, combo->currentText(), QStringLiteral("no such item"));
        return Number(f.Items[static_cast<std::size_t>(index)].Value);
    }
    const QJsonValue v = Number(f.Min + index);
    if (const TStatus ok = CheckRange(f, v, families); !ok)
        return AsShown(ok.Error(), combo->currentText());
    return v;
}

} // namespace

std::optional<TControlKind> ControlKindOf(const TFieldDef& f, const QWidget* control) {
    if (qobject_cast<const QLineEdit*>(control))
        return TControlKind::Edit;
    if (qobject_cast<const QComboBox*>(control))
        return f.Name == QLatin1String("BaudRate") ? TControlKind::BaudCombo : TControlKind::Combo;
    if (qobject_cast<const QCheckBox*>(control) && f.Kind == TFieldKind::Bool)
        return TControlKind::Check;
    if (qobject_cast<const QPlainTextEdit*>(control))
        return TControlKind::HeaderEditor;
    return std::nullopt;
}

void ShowValue(const TBinding& b, const QJsonValue& v) {
    if (v.isNull() || v.isUndefined()) {
        ClearControl(b);
        return;
    }
    const TFieldDef& f = *b.Field;
    switch (b.Kind) {
    case TControlKind::Edit:
        static_cast<QLineEdit*>(b.Control)->setText(EditText(f, v));
        break;
    case TControlKind::Combo:
        SelectIndex(static_cast<QComboBox*>(b.Control),
                    f.Kind == TFieldKind::Enum ? ItemOf(f, v) : IntOf(v) - static_cast<int>(f.Min));
        break;
    case TControlKind::BaudCombo:
        ShowBaudRate(static_cast<QComboBox*>(b.Control), static_cast<std::uint32_t>(v.toDouble()));
        break;
    case TControlKind::Check:
        static_cast<QCheckBox*>(b.Control)->setChecked(v.toBool());
        break;
    case TControlKind::HeaderEditor:
        static_cast<QPlainTextEdit*>(b.Control)->setPlainText(v.toString());
        break;
    }
}

void ClearControl(const TBinding& b) {
    switch (b.Kind) {
    case TControlKind::Edit:
        static_cast<QLineEdit*>(b.Control)->clear();
        break;
    case TControlKind::Combo:
    case TControlKind::BaudCombo:
        static_cast<QComboBox*>(b.Control)->setCurrentIndex(-1);
        break;
    case TControlKind::Check:
        static_cast<QCheckBox*>(b.Control)->setChecked(false);
        break;
    case TControlKind::HeaderEditor:
        static_cast<QPlainTextEdit*>(b.Control)->clear();
        break;
    }
}

void ApplyEditRules(const TBinding& b) {
    if (b.Kind != TControlKind::Edit)
        return;
    auto* edit = static_cast<QLineEdit*>(b.Control);
    const std::string name = b.Field->Name.toStdString();
    if (edit->text().isEmpty()) {
        if (const auto fallback = EmptyEditDefault(name))
            edit->setText(QString::fromLatin1(fallback->data(), static_cast<qsizetype>(fallback->size())));
    }
    if (name == "ModbusPollTimeout") {
        if (const auto raised = RaisedPollTimeout(edit->text().toStdString()))
            edit->setText(QString::fromStdString(*raised));
    }
}

TResult<QJsonValue> ReadValue(const TBinding& b, unsigned families, bool hex) {
    const TFieldDef& f = *b.Field;
    switch (b.Kind) {
    case TControlKind::Edit:
        return ParseChecked(f, static_cast<const QLineEdit*>(b.Control)->text(), families, hex);
    case TControlKind::BaudCombo:
        return ParseChecked(f, static_cast<const QComboBox*>(b.Control)->currentText(), families, hex);
    case TControlKind::Combo:
        return ReadCombo(b, families);
    case TControlKind::Check:
        return QJsonValue(static_cast<const QCheckBox*>(b.Control)->isChecked());
    case TControlKind::HeaderEditor: {
        // The editor gives line breaks back as LF; HTTP wants CR LF. UTF-8 keeps every LF byte a
        // line break, so the conversion is safe on any text.
        const QString text = static_cast<const QPlainTextEdit*>(b.Control)->toPlainText();
        return ParseChecked(f, QString::fromStdString(HttpdHeaderForModule(text.toStdString())), families,
                            hex);
    }
    }
    return Refused(f, QString(), QStringLiteral("no control"));
}

QString ControlState(const TBinding& b) {
    switch (b.Kind) {
    case TControlKind::Edit:
        return static_cast<const QLineEdit*>(b.Control)->text();
    case TControlKind::Combo:
    case TControlKind::BaudCombo: {
        const auto* combo = static_cast<const QComboBox*>(b.Control);
        return QString::number(combo->currentIndex()) + u'\n' + combo->currentText();
    }
    case TControlKind::Check:
        return static_cast<const QCheckBox*>(b.Control)->isChecked() ? QStringLiteral("1")
                                                                     : QStringLiteral("0");
    case TControlKind::HeaderEditor:
        return static_cast<const QPlainTextEdit*>(b.Control)->toPlainText();
    }
    return {};
}

QString ControlText(const TBinding& b) {
    switch (b.Kind) {
    case TControlKind::Combo:
    case TControlKind::BaudCombo:
        return static_cast<const QComboBox*>(b.Control)->currentText();
    default:
        return ControlState(b);
    }
}

// --- TPageBinding ---

TPageBinding::TPageBinding(QWidget* page, unsigned family) {
    for (const TFieldDef& f : FieldTable()) {
        const QString& name = family == FamZ3 ? f.Z3Control : f.Z2Control;
        if (name.isEmpty())
            continue;
        QWidget* control = page->findChild<QWidget*>(name);
        const auto kind = control != nullptr ? ControlKindOf(f, control) : std::nullopt;
        if (kind)
            bindings_.push_back(TBinding{&f, control, *kind, QString()});
    }
}

void TPageBinding::Show(const TModuleSettings& s) {
    for (TBinding& b : bindings_) {
        const TFieldDef& f = *b.Field;
        const bool reported = FieldShown(f, s);
        const bool wasReported = shown_ && FieldShown(f, *shown_);
        const QJsonValue value = reported ? f.Get(s) : QJsonValue(QJsonValue::Null);
        const QJsonValue before = wasReported ? f.Get(*shown_) : QJsonValue(QJsonValue::Null);
        if (!shown_ || reported != wasReported || value != before) {
            ShowValue(b, value);
            b.Shown = ControlState(b);
        }
        b.Control->setEnabled(reported);
    }
    shown_ = s;
}

TResult<TModuleSettings> TPageBinding::Read(const TModuleSettings& before) {
    if (!shown_)
        return TError{"", "", "the page shows no module"};
    TModuleSettings out = before;
    const unsigned families = FamilyBit(before.Family);
    // Table order: a Hex switch is read before its data, so the data reads the new way.
    for (const TBinding& b : bindings_) {
        const TFieldDef& f = *b.Field;
        if (!FieldWritable(f, before))
            continue;
        ApplyEditRules(b);
        if (ControlState(b) == b.Shown)
            continue;
        const TResult<QJsonValue> v = ReadValue(b, families, f.Kind == TFieldKind::Data && DataIsHex(f, out));
        if (!v)
            return v.Error();
        f.Set(out, *v);
    }
    return out;
}

void TPageBinding::Clear() {
    for (TBinding& b : bindings_) {
        ClearControl(b);
        b.Shown = ControlState(b);
    }
    shown_.reset();
}

const TBinding* TPageBinding::Find(const QString& field) const {
    for (const TBinding& b : bindings_)
        if (b.Field->Name.compare(field, Qt::CaseInsensitive) == 0)
            return &b;
    return nullptr;
}

void ReportFieldError(IUserPrompts& prompts, const TTexts& texts, QWidget* page, const TBinding* b,
                      const TError& error) {
    QString caption = QString::fromStdString(error.Field);
    if (b != nullptr) {
        if (!b->Field->LabelKey.isEmpty()) {
            caption = texts.Text(b->Field->LabelKey);
        } else if (const auto* box = qobject_cast<const QCheckBox*>(b->Control)) {
            caption = box->text();
        } else {
            for (QLabel* label : page->findChildren<QLabel*>())
                if (label->buddy() == b->Control) {
                    caption = label->text();
                    break;
                }
        }
    }
    caption.remove(QStringLiteral("★"));
    caption = caption.trimmed();
    prompts.Message(page, texts.Text("lang_btn_ComSet"),
                    caption + QStringLiteral(": \"") + QString::fromStdString(error.Text) +
                        QStringLiteral("\""),
                    IUserPrompts::Icon::Warning);
    if (b != nullptr)
        b->Control->setFocus();
}

} // namespace varnix
