#pragma once
// Writing the texts of the current language into page controls: captions, item texts, hints.

#include <QString>
#include <initializer_list>
#include <utility>

class QComboBox;
class QWidget;

namespace varnix {

// Caption (label, button, check box) or title (group box) of each control from its key.
void SetTexts(std::initializer_list<std::pair<QWidget*, const char*>> items);
// The same with a suffix appended to the looked-up text (" ★" for the address fields).
void SetTextsWithSuffix(std::initializer_list<std::pair<QWidget*, const char*>> items, const QString& suffix);
// Pop-up help of each control; "///" in a text is a line break.
void SetHints(std::initializer_list<std::pair<QWidget*, const char*>> items);
// Item `index` of a drop-down from a key; the selection stays.
void SetItemText(QComboBox* combo, int index, const char* key);
// Items 0.. of a drop-down from keys; the selection stays.
void SetItemTexts(QComboBox* combo, std::initializer_list<const char*> keys);
// The text of a key in the current language.
QString Text(const char* key);

}  // namespace varnix
