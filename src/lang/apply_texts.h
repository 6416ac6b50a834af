#pragma once
// The one way every window writes the texts of the current language into its controls: each
// control gets the text of its key in one language list (its context's), whatever kind of
// control it is.

#include <QString>
#include <initializer_list>
#include <utility>

class QComboBox;
class QObject;
class QWidget;

namespace varnix {

class TLangList;

using TTextItems = std::initializer_list<std::pair<QObject*, const char*>>;

// The texts of one language list. Cheap to copy; the list must outlive it.
class TTexts {
public:
    explicit TTexts(const TLangList& lang) : lang_(&lang) {}

    // The text of a key (or of a text already shown) in the current language; the key itself
    // when it is found nowhere.
    QString Text(const char* key) const;
    QString Text(const QString& key) const;

    // Caption of each control from its key: the text of a label, button or check box, the title
    // of a group box or menu, the caption of a menu item, the title of a window.
    void SetTexts(TTextItems items) const;
    // The same with a suffix appended to the looked-up text (" ★" for the address fields).
    void SetTextsWithSuffix(TTextItems items, const QString& suffix) const;
    // Pop-up help of each control (widget or menu item); "///" in a text is a line break.
    void SetHints(TTextItems items) const;
    // Item `index` of a drop-down from a key; the selection stays.
    void SetItemText(QComboBox* combo, int index, const char* key) const;
    // Items 0.. of a drop-down from keys; the selection stays.
    void SetItemTexts(QComboBox* combo, std::initializer_list<const char*> keys) const;

private:
    const TLangList* lang_;
};
// Writes `text` as the caption of `target` (see SetTexts); false for a kind of object that has none.
bool SetCaption(QObject* target, const QString& text);
// The caption SetCaption writes, read back (tests compare it with the table).
QString Caption(const QObject* target);

} // namespace varnix
