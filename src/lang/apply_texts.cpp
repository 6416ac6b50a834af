#include "lang/apply_texts.h"

#include "lang/app_lang.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QTabWidget>

namespace varnix {

QString TTexts::Text(const char* key) const {
    return LookUpText(*lang_, QString::fromLatin1(key));
}

QString TTexts::Text(const QString& key) const {
    return LookUpText(*lang_, key);
}

namespace {

// A page of a tab control carries its caption on the tab.
QTabWidget* TabOwner(const QWidget* page) {
    for (QWidget* p = page->parentWidget(); p != nullptr; p = p->parentWidget())
        if (auto* tabs = qobject_cast<QTabWidget*>(p))
            return tabs->indexOf(const_cast<QWidget*>(page)) >= 0 ? tabs : nullptr;
    return nullptr;
}

} // namespace

bool SetCaption(QObject* target, const QString& text) {
    if (auto* action = qobject_cast<QAction*>(target))
        action->setText(text);
    else if (auto* menu = qobject_cast<QMenu*>(target))
        menu->setTitle(text);
    else if (auto* label = qobject_cast<QLabel*>(target))
        label->setText(text);
    else if (auto* button = qobject_cast<QAbstractButton*>(target))
        button->setText(text);
    else if (auto* group = qobject_cast<QGroupBox*>(target))
        group->setTitle(text);
    else if (auto* w = qobject_cast<QWidget*>(target)) {
        if (w->isWindow())
            w->setWindowTitle(text);
        else if (QTabWidget* tabs = TabOwner(w))
            tabs->setTabText(tabs->indexOf(w), text);
        else
            return false;
    } else {
        return false;
    }
    return true;
}

QString Caption(const QObject* target) {
    auto* obj = const_cast<QObject*>(target);
    if (auto* action = qobject_cast<QAction*>(obj))
        return action->text();
    if (auto* menu = qobject_cast<QMenu*>(obj))
        return menu->title();
    if (auto* label = qobject_cast<QLabel*>(obj))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(obj))
        return button->text();
    if (auto* group = qobject_cast<QGroupBox*>(obj))
        return group->title();
    if (auto* w = qobject_cast<QWidget*>(obj)) {
        if (w->isWindow())
            return w->windowTitle();
        if (QTabWidget* tabs = TabOwner(w))
            return tabs->tabText(tabs->indexOf(w));
    }
    return {};
}

void TTexts::SetTexts(TTextItems items) const {
    for (const auto& [target, key] : items)
        SetCaption(target, Text(key));
}

void TTexts::SetTextsWithSuffix(TTextItems items, const QString& suffix) const {
    for (const auto& [target, key] : items)
        SetCaption(target, Text(key) + suffix);
}

void TTexts::SetHints(TTextItems items) const {
    for (const auto& [target, key] : items) {
        QString hint = Text(key);
        hint.replace(QStringLiteral("///"), QStringLiteral("\n"));
        hint = hint.trimmed();
        if (auto* action = qobject_cast<QAction*>(target))
            action->setToolTip(hint);
        else if (auto* w = qobject_cast<QWidget*>(target))
            w->setToolTip(hint);
    }
}

void TTexts::SetItemText(QComboBox* combo, int index, const char* key) const {
    const int selected = combo->currentIndex();
    combo->setItemText(index, Text(key));
    combo->setCurrentIndex(selected);
}

void TTexts::SetItemTexts(QComboBox* combo, std::initializer_list<const char*> keys) const {
    const int selected = combo->currentIndex();
    int i = 0;
    for (const char* key : keys)
        combo->setItemText(i++, Text(key));
    combo->setCurrentIndex(selected);
}

} // namespace varnix
