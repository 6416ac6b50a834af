#pragma once
// Every modal step a window takes (message box, yes/no question, input box, file dialogs) goes
// through this interface, so a test can pre-answer the steps and read back what was shown.

#include <QColor>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <deque>
#include <optional>
#include <vector>

class QWidget;

namespace varnix {

class IUserPrompts {
public:
    enum class Icon { None, Information, Warning, Critical, Question };

    virtual ~IUserPrompts() = default;

    // A message box with one OK button.
    virtual void Message(QWidget* parent, const QString& title, const QString& text,
                         Icon icon = Icon::Information) = 0;
    // A question with Yes and No; true for Yes.
    virtual bool Question(QWidget* parent, const QString& title, const QString& text) = 0;
    // A question before a command that cannot be undone: a button named for the action and a
    // Cancel button, Cancel the default (Enter and Esc both cancel); true for the action.
    virtual bool Confirm(QWidget* parent, const QString& title, const QString& text, const QString& action,
                         const QString& cancel) = 0;
    // An input box; std::nullopt when the user cancels.
    virtual std::optional<QString> Input(QWidget* parent, const QString& title, const QString& prompt,
                                         const QString& defaultText) = 0;
    // File dialogs; std::nullopt when cancelled. filter is a Qt name filter ("Bin (*.bin)").
    virtual std::optional<QString> OpenFileName(QWidget* parent, const QString& title, const QString& dir,
                                                const QString& filter) = 0;
    virtual std::optional<QString> SaveFileName(QWidget* parent, const QString& title, const QString& dir,
                                                const QString& filter) = 0;
};

// The real dialogs (QMessageBox, QInputDialog, QFileDialog).
class TQtPrompts final : public IUserPrompts {
public:
    void Message(QWidget* parent, const QString& title, const QString& text, Icon icon) override;
    bool Question(QWidget* parent, const QString& title, const QString& text) override;
    bool Confirm(QWidget* parent, const QString& title, const QString& text, const QString& action,
                 const QString& cancel) override;
    std::optional<QString> Input(QWidget* parent, const QString& title, const QString& prompt,
                                 const QString& defaultText) override;
    std::optional<QString> OpenFileName(QWidget* parent, const QString& title, const QString& dir,
                                        const QString& filter) override;
    std::optional<QString> SaveFileName(QWidget* parent, const QString& title, const QString& dir,
                                        const QString& filter) override;
};

// For tests: answers come from queues filled beforehand; every step is recorded in Shown.
// A question or confirmation takes the next NextQuestion answer; with none queued it answers
// No (Cancel); an input box or file dialog with no queued
// answer is cancelled (std::nullopt). Nothing blocks.
class TScriptedPrompts final : public IUserPrompts {
public:
    enum class Kind { Message, Question, Input, OpenFile, SaveFile, Confirm };
    struct TStep {
        Kind kind;
        QString title;
        QString text; // message / question text, input prompt, or dialog directory
        Icon icon = Icon::None;
        QString extra; // input default text or file filter
    };

    void NextQuestion(bool yes) { questions_.push_back(yes); }
    void NextInput(std::optional<QString> answer) { inputs_.push_back(std::move(answer)); }
    void NextOpenFile(std::optional<QString> name) { openFiles_.push_back(std::move(name)); }
    void NextSaveFile(std::optional<QString> name) { saveFiles_.push_back(std::move(name)); }

    const std::vector<TStep>& Shown() const { return shown_; }
    // Only the message boxes, in order.
    std::vector<TStep> Messages() const;
    void Clear() { shown_.clear(); }

    void Message(QWidget* parent, const QString& title, const QString& text, Icon icon) override;
    bool Question(QWidget* parent, const QString& title, const QString& text) override;
    bool Confirm(QWidget* parent, const QString& title, const QString& text, const QString& action,
                 const QString& cancel) override;
    std::optional<QString> Input(QWidget* parent, const QString& title, const QString& prompt,
                                 const QString& defaultText) override;
    std::optional<QString> OpenFileName(QWidget* parent, const QString& title, const QString& dir,
                                        const QString& filter) override;
    std::optional<QString> SaveFileName(QWidget* parent, const QString& title, const QString& dir,
                                        const QString& filter) override;

private:
    std::vector<TStep> shown_;
    std::deque<bool> questions_;
    std::deque<std::optional<QString>> inputs_;
    std::deque<std::optional<QString>> openFiles_;
    std::deque<std::optional<QString>> saveFiles_;
};

} // namespace varnix
