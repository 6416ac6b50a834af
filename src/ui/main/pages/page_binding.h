#pragma once
// The pages as views of the field catalogue: a binding moves one field's value between the
// catalogue and the control that holds it on a page, by the control's kind. Showing writes the
// catalogue's value (texts through the one text codec); reading parses the control's text with
// the catalogue (ParseFieldText, CheckRange for the module's family) and fails with a TError that
// names the field, the control's text and why.
//
// A control the user left as a show put it gives back the module's value unread, byte for byte:
// a text the codec cannot render exactly, an HTTPD header with its own line breaks, a value the
// module reports outside the catalogue's range all go back as the module sent them, the way the
// catalogue lets an unchanged value pass.

#include "core/result.h"
#include "lang/apply_texts.h"
#include "model/fields.h"

#include <QJsonValue>
#include <QString>

#include <optional>
#include <vector>

class QWidget;

namespace varnix {

class IUserPrompts;

// How a control holds its field.
enum class TControlKind {
    Edit,         // line edit: the value as text
    Combo,        // drop-down: an Enum field's item position, an Int field's value minus its minimum
    BaudCombo,    // the baud-rate drop-down with its custom slot (item 0)
    Check,        // check box: a Bool field
    HeaderEditor, // the HTTPD header editor: plain text, line breaks CR LF on the wire
};

struct TBinding {
    const TFieldDef* Field = nullptr;
    QWidget* Control = nullptr;
    TControlKind Kind = TControlKind::Edit;
    // What the control showed when a show last wrote it (ControlState); null before any show.
    QString Shown;
};

// The kind of a control: by its class, and the baud-rate field's drop-down by the field.
std::optional<TControlKind> ControlKindOf(const TFieldDef& f, const QWidget* control);

// Writes a value into the control; Null empties it. A drop-down value without an item leaves the
// selection as it is (a code the page cannot show, such as flow control 2, is not replaced by a
// guess).
void ShowValue(const TBinding& b, const QJsonValue& v);
// Empties the control: no text, no selection, not checked.
void ClearControl(const TBinding& b);
// The texts some edits are given before they are read: the default of an edit left empty and the
// poll time-out raised to 10 (model/page_rules.h). The page shows what it then reads.
void ApplyEditRules(const TBinding& b);
// The value the control holds, parsed and checked by the catalogue for `families` (a family bit);
// a Data field is read as hex pairs when `hex`.
TResult<QJsonValue> ReadValue(const TBinding& b, unsigned families, bool hex);
// A snapshot of what the control shows (text, selection and its text, check state).
QString ControlState(const TBinding& b);
// The control's text as the user reads it ("1"/"0" for a check box).
QString ControlText(const TBinding& b);

// The catalogue's fields on one page (the Z2 or the Z3 column) and the module they show.
class TPageBinding {
public:
    // Binds every field whose control for `family` (FamZ2 or FamZ3) is a child of `page`.
    TPageBinding(QWidget* page, unsigned family);

    // Fills every control of a field the module reported; fields it did not report are emptied
    // and disabled. Only controls whose value differs from the last show are written, so a later
    // reply of the same read leaves what the user typed meanwhile.
    void Show(const TModuleSettings& s);
    // `before` (the settings last shown) with the page's values on top: every field the module
    // reported and a save of its family writes, read from its control unless the control is as
    // the show left it. Fails on the first field that does not read, in catalogue order.
    // Edits are first given their default or raised value (ApplyEditRules), which they then show.
    TResult<TModuleSettings> Read(const TModuleSettings& before);
    // Empties every control; nothing is shown until the next Show.
    void Clear();
    bool HasShown() const { return shown_.has_value(); }
    // The module last shown (its family and reply kinds decide the visibility rules).
    const std::optional<TModuleSettings>& ShownSettings() const { return shown_; }

    const TBinding* Find(const QString& field) const;
    const std::vector<TBinding>& Bindings() const { return bindings_; }

private:
    std::vector<TBinding> bindings_;
    std::optional<TModuleSettings> shown_;
};

// Refuses a save for a field that does not read: a warning naming the field's label (its text
// key, else the label whose buddy the control is, else the control's caption, else the field's
// name) and the refused text; the control takes the focus. `b` may be null (unknown field).
void ReportFieldError(IUserPrompts& prompts, const TTexts& texts, QWidget* page, const TBinding* b,
                      const TError& error);

} // namespace varnix
