#include "ui/main/pages/page_common.h"

#include "lang/app_lang.h"
#include "lang/text_codec.h"
#include "model/page_rules.h"
#include "ui/common/colours.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>

namespace varnix {

void ShowBaudRateText(QComboBox* combo, const QString& rate) {
    const int found = combo->findText(rate, Qt::MatchExactly);
    if (found >= 0)
        combo->setCurrentIndex(found);
    if (found < 0 || combo->currentText().isEmpty()) {
        combo->setItemText(0, rate);
        combo->setCurrentIndex(0);
    }
}

void ShowBaudRate(QComboBox* combo, std::uint32_t rate) {
    ShowBaudRateText(combo, QString::number(rate));
}

void cbb_BaudRateClick(QComboBox* combo, IUserPrompts& prompts, const TTexts& texts) {
    if (combo->currentIndex() != 1)
        return;
    const QString fallback = combo->itemText(0);
    const std::optional<QString> answer = prompts.Input(combo->window(), texts.Text("lang_InputBdTitle"),
                                                        texts.Text("lang_PlsInputBd"), fallback);
    // A cancelled box counts as an answer of its default text.
    const QString text = answer.value_or(fallback);
    if (auto rate = ParseCustomBaud(ToBytes(text))) {
        combo->setItemText(0, QString::number(*rate));
        combo->setCurrentIndex(0);
    } else {
        combo->setCurrentIndex(combo->findText(QStringLiteral("9600")));
    }
}

void ConnectCustomBaud(QComboBox* combo, IUserPrompts& prompts, const TTexts& texts) {
    QObject::connect(combo, &QComboBox::activated, combo, [combo, &prompts, texts](int index) {
        if (index == 1)
            cbb_BaudRateClick(combo, prompts, texts);
    });
}

bool TNumericKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const int k = key->key();
    const bool ctrl =
        key->modifiers().testFlag(Qt::ControlModifier) && !key->modifiers().testFlag(Qt::AltModifier);
    if (ctrl) {
        if (k == Qt::Key_V || k == Qt::Key_X)
            return false;
        // Any other control character (Ctrl+C, Ctrl+A, ...) is swallowed; Ctrl with a key that
        // types nothing (Ctrl+Left) passes.
        return (k >= Qt::Key_Space && k <= Qt::Key_AsciiTilde) || !key->text().isEmpty();
    }
    if (k == Qt::Key_Backspace)
        return false;
    if (k >= Qt::Key_0 && k <= Qt::Key_9)
        return false;
    if (k == Qt::Key_Tab || k == Qt::Key_Backtab)
        return false;
    // Keys that type a character are swallowed; navigation and editing keys type nothing.
    const QString text = key->text();
    if (text.isEmpty())
        return false;
    return true;
}

namespace {
class TKeyReleaseHook final : public QObject {
public:
    TKeyReleaseHook(QObject* parent, std::function<void()> handler)
        : QObject(parent), handler_(std::move(handler)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyRelease) {
            // The edit handles the release first, then the check runs on the text it now holds.
            const bool handled = QObject::eventFilter(watched, event);
            handler_();
            return handled;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> handler_;
};
} // namespace

void OnKeyRelease(QLineEdit* edit, std::function<void()> handler) {
    edit->installEventFilter(new TKeyReleaseHook(edit, std::move(handler)));
}

void SetFieldEnabled(QWidget* field, QLabel* label, bool enabled) {
    if (field != nullptr)
        field->setEnabled(enabled);
    SetLabelEnabledColour(label, enabled);
}

void SelectIndex(QComboBox* combo, int index) {
    if (index >= 0 && index < combo->count())
        combo->setCurrentIndex(index);
}

QString ToDisplay(const std::string& bytes) {
    return BytesToDisplay(bytes);
}
std::string ToBytes(const QString& text) {
    return DisplayToBytes(text);
}
std::string EditBytes(const QLineEdit* edit) {
    return DisplayToBytes(edit->text());
}
void SetEditBytes(QLineEdit* edit, const std::string& bytes) {
    edit->setText(BytesToDisplay(bytes));
}

void SetBuddies(QWidget* page, std::initializer_list<const char*> pairs) {
    for (auto it = pairs.begin(); it != pairs.end() && std::next(it) != pairs.end(); it += 2) {
        auto* label = page->findChild<QLabel*>(QString::fromLatin1(*it));
        auto* field = page->findChild<QWidget*>(QString::fromLatin1(*std::next(it)));
        if (label != nullptr && field != nullptr)
            label->setBuddy(field);
    }
}

} // namespace varnix
