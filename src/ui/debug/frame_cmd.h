#pragma once
// TFrameCmd: one command row of the debugging window (selection box, name button, command text,
// Hex box, send button, delay). The window builds 50 of them from this one form.

#include "debug/cmd_file.h"

#include "lang/apply_texts.h"

#include <QWidget>
#include <memory>

namespace Ui {
class TFrameCmdForm;
}

namespace varnix {

class IUserPrompts;

// Accepts only the digits, Backspace, Ctrl+V and Ctrl+X among the keys that type something;
// keys that move the cursor or the focus, Enter and Esc pass unchanged.
bool DigitKeyAllowed(int key, Qt::KeyboardModifiers modifiers, const QString& text);

class TFrameCmd final : public QWidget {
    Q_OBJECT
public:
    TFrameCmd(int index, IUserPrompts& prompts, TTexts texts, QWidget* parent = nullptr);
    ~TFrameCmd() override;

    int Index() const { return index_; }
    TCmdRow Row() const;
    // Loads a row; the send caption is set again from the current language.
    void SetRow(const TCmdRow& row);
    // Unchecked, default name, empty command and delay.
    void Clear();
    bool Chosen() const;
    void SetChosen(bool on);
    bool Hex() const;
    // Sets the Hex box, converting the command when the state changes (debug/cmd_text.h). Bytes
    // without a faithful text form keep the box ticked and raise StaysHex.
    void SetHexConverting(bool on);
    QString Cmd() const;
    // Delay in ms, 0 when empty.
    int DelayMs() const;
    QString Name() const { return name_; }
    void SetName(const QString& name);
    // Right click on the name button: asks for a new name.
    void Rename();

signals:
    void SendClicked(int index);
    // Selection or delay changed (the cycle's snapshot of the rows follows it).
    void Changed();
    // Hex was unticked but the command's bytes have no text form: it stays in hex.
    void StaysHex(int index);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The name as far as the button shows it, cut at the end with "…" (the whole name is its tooltip).
    void ShowName();

    std::unique_ptr<Ui::TFrameCmdForm> ui;
    int index_;
    IUserPrompts& prompts_;
    TTexts texts_;
    QString name_;
};

} // namespace varnix
