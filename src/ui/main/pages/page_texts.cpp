#include "ui/main/pages/page_texts.h"

#include "lang/app_lang.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>

namespace varnix {

QString Text(const char* key) { return GetLangText(QString::fromLatin1(key)); }

namespace {
void SetCaption(QWidget* w, const QString& text) {
    if (auto* label = qobject_cast<QLabel*>(w)) label->setText(text);
    else if (auto* button = qobject_cast<QAbstractButton*>(w)) button->setText(text);
    else if (auto* group = qobject_cast<QGroupBox*>(w)) group->setTitle(text);
}
}  // namespace

void SetTexts(std::initializer_list<std::pair<QWidget*, const char*>> items) {
    for (const auto& [w, key] : items) SetCaption(w, Text(key));
}

void SetTextsWithSuffix(std::initializer_list<std::pair<QWidget*, const char*>> items, const QString& suffix) {
    for (const auto& [w, key] : items) SetCaption(w, Text(key) + suffix);
}

void SetHints(std::initializer_list<std::pair<QWidget*, const char*>> items) {
    for (const auto& [w, key] : items) {
        QString hint = Text(key);
        hint.replace(QStringLiteral("///"), QStringLiteral("\n"));
        w->setToolTip(hint.trimmed());
    }
}

void SetItemText(QComboBox* combo, int index, const char* key) {
    const int selected = combo->currentIndex();
    combo->setItemText(index, Text(key));
    combo->setCurrentIndex(selected);
}

void SetItemTexts(QComboBox* combo, std::initializer_list<const char*> keys) {
    const int selected = combo->currentIndex();
    int i = 0;
    for (const char* key : keys) combo->setItemText(i++, Text(key));
    combo->setCurrentIndex(selected);
}

}  // namespace varnix
