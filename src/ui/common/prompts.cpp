#include "ui/common/prompts.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace varnix {

namespace {
QMessageBox::Icon ToQt(IUserPrompts::Icon icon) {
    switch (icon) {
    case IUserPrompts::Icon::Information:
        return QMessageBox::Information;
    case IUserPrompts::Icon::Warning:
        return QMessageBox::Warning;
    case IUserPrompts::Icon::Critical:
        return QMessageBox::Critical;
    case IUserPrompts::Icon::Question:
        return QMessageBox::Question;
    case IUserPrompts::Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

bool PopOr(std::deque<bool>& queue, bool fallback) {
    if (queue.empty())
        return fallback;
    const bool value = queue.front();
    queue.pop_front();
    return value;
}

// An empty queue answers "cancelled".
std::optional<QString> PopOr(std::deque<std::optional<QString>>& queue, std::nullopt_t) {
    if (queue.empty())
        return std::nullopt;
    std::optional<QString> value;
    value.swap(queue.front());
    queue.pop_front();
    return value;
}
} // namespace

void TQtPrompts::Message(QWidget* parent, const QString& title, const QString& text, Icon icon) {
    QMessageBox box(ToQt(icon), title, text, QMessageBox::Ok, parent);
    box.exec();
}

bool TQtPrompts::Question(QWidget* parent, const QString& title, const QString& text) {
    return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

bool TQtPrompts::Confirm(QWidget* parent, const QString& title, const QString& text, const QString& action,
                         const QString& cancel) {
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::NoButton, parent);
    QPushButton* yes = box.addButton(action, QMessageBox::AcceptRole);
    QPushButton* no = box.addButton(cancel, QMessageBox::RejectRole);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    no->setFocus();
    box.exec();
    return box.clickedButton() == yes;
}

std::optional<QString> TQtPrompts::Input(QWidget* parent, const QString& title, const QString& prompt,
                                         const QString& defaultText) {
    bool ok = false;
    QString answer = QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, defaultText, &ok);
    if (!ok)
        return std::nullopt;
    return answer;
}

std::optional<QString> TQtPrompts::OpenFileName(QWidget* parent, const QString& title, const QString& dir,
                                                const QString& filter) {
    QString name = QFileDialog::getOpenFileName(parent, title, dir, filter);
    if (name.isEmpty())
        return std::nullopt;
    return name;
}

std::optional<QString> TQtPrompts::SaveFileName(QWidget* parent, const QString& title, const QString& dir,
                                                const QString& filter) {
    QString name = QFileDialog::getSaveFileName(parent, title, dir, filter);
    if (name.isEmpty())
        return std::nullopt;
    return name;
}

std::vector<TScriptedPrompts::TStep> TScriptedPrompts::Messages() const {
    std::vector<TStep> out;
    for (const auto& s : shown_)
        if (s.kind == Kind::Message)
            out.push_back(s);
    return out;
}

void TScriptedPrompts::Message(QWidget*, const QString& title, const QString& text, Icon icon) {
    shown_.push_back({Kind::Message, title, text, icon, {}});
}

bool TScriptedPrompts::Confirm(QWidget*, const QString& title, const QString& text, const QString& action,
                               const QString&) {
    shown_.push_back({Kind::Confirm, title, text, Icon::Warning, action});
    return PopOr(questions_, false);
}

bool TScriptedPrompts::Question(QWidget*, const QString& title, const QString& text) {
    shown_.push_back({Kind::Question, title, text, Icon::Question, {}});
    return PopOr(questions_, false);
}

std::optional<QString> TScriptedPrompts::Input(QWidget*, const QString& title, const QString& prompt,
                                               const QString& defaultText) {
    shown_.push_back({Kind::Input, title, prompt, Icon::None, defaultText});
    return PopOr(inputs_, std::nullopt);
}

std::optional<QString> TScriptedPrompts::OpenFileName(QWidget*, const QString& title, const QString& dir,
                                                      const QString& filter) {
    shown_.push_back({Kind::OpenFile, title, dir, Icon::None, filter});
    return PopOr(openFiles_, std::nullopt);
}

std::optional<QString> TScriptedPrompts::SaveFileName(QWidget*, const QString& title, const QString& dir,
                                                      const QString& filter) {
    shown_.push_back({Kind::SaveFile, title, dir, Icon::None, filter});
    return PopOr(saveFiles_, std::nullopt);
}

} // namespace varnix
