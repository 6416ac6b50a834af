#pragma once
// File > Save capture...: writes what the windows exchanged with modules since the start or the
// last search (the context's capture) to a pcapng file the user picks, and says how many packets
// it holds and whether the capture stopped at its size limit.

#include <QObject>
#include <QString>

class QAction;
class QMenu;
class QWidget;

namespace varnix {

class TAppContext;
class IUserPrompts;

class TCaptureSaver final : public QObject {
    Q_OBJECT
public:
    // Adds the menu item to `menu` just after `after`.
    TCaptureSaver(TAppContext& ctx, IUserPrompts& prompts, QMenu* menu, QAction* after, QWidget* window);

    // The item's text in the current language.
    void ApplyTexts();
    // Asks for a file name and writes the capture there; a failure is also shown in a message box.
    struct TOutcome {
        bool Saved = false;
        QString Text; // empty when the user cancelled
    };
    TOutcome Save();
    QAction* Action() const { return action_; }

signals:
    // After the menu item's save: the line for the window's log (not raised when cancelled).
    void Done(bool saved, const QString& text);

private:
    TAppContext& ctx_;
    IUserPrompts& prompts_;
    QWidget* window_;
    QAction* action_;
};

} // namespace varnix
