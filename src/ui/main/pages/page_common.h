#pragma once
// Widget helpers every parameter page shares: the baud-rate drop-downs with their custom slot,
// the numeric key filter, label colours of dependent fields and the byte/text moves of edits.

#include "lang/apply_texts.h"
#include "ui/common/prompts.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QWidget;

namespace varnix {

// Selects the first item whose text is the rate; when none is, the rate goes into item 0 (the
// custom slot, which keeps the last custom or shown rate) and item 0 is selected.
void ShowBaudRate(QComboBox* combo, std::uint32_t rate);
void ShowBaudRateText(QComboBox* combo, const QString& rate);

// Wires the custom entry of a baud drop-down: choosing item 1 asks for a rate (default: item 0);
// an integer answer replaces item 0 and selects it, anything else (a cancel included) selects "9600".
void ConnectCustomBaud(QComboBox* combo, IUserPrompts& prompts, const TTexts& texts);
// The same step on its own (what the drop-down runs when item 1 is chosen).
void cbb_BaudRateClick(QComboBox* combo, IUserPrompts& prompts, const TTexts& texts);

// Lets through digits, Backspace, Ctrl+V and Ctrl+X and swallows every other key that types a
// character (Ctrl+C and Ctrl+A included); keys that type nothing (arrows, Delete, Tab) pass.
class TNumericKeyFilter final : public QObject {
public:
    explicit TNumericKeyFilter(QObject* parent) : QObject(parent) {}
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// Runs `handler` after every key release in `edit` (the edits that check their text while typing).
void OnKeyRelease(QLineEdit* edit, std::function<void()> handler);

// Enables or disables a field and paints its label silver when disabled.
void SetFieldEnabled(QWidget* field, QLabel* label, bool enabled);
// Selects an item only when the index exists; otherwise the selection stays.
void SelectIndex(QComboBox* combo, int index);

// Texts of edits as the bytes a module stores, and back (the one text codec).
std::string EditBytes(const QLineEdit* edit);
void SetEditBytes(QLineEdit* edit, const std::string& bytes);
QString ToDisplay(const std::string& bytes);
std::string ToBytes(const QString& text);

// Connects every label named in `pairs` (label, field, label, field, ...) to its field as buddy.
void SetBuddies(QWidget* page, std::initializer_list<const char*> pairs);

} // namespace varnix
