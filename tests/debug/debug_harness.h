#pragma once
// The debugging window in a temporary home with scripted prompts and its own "FilePath".

#include "lang/app_lang.h"
#include "ui/common/prompts.h"
#include "ui/debug/data_debug.h"
#include "ui/debug/frame_cmd.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace varnix::test {

// Processes events until `done` holds or `ms` pass.
inline bool WaitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

struct TDebugHarness {
    QTemporaryDir Home;
    TScriptedPrompts Prompts;
    QString CmdFilePath;
    std::unique_ptr<Tfrm_DataDebug> Win;

    explicit TDebugHarness(bool chinese = false) {
        InitLang(Home.path());
        LangList->IsChinese = chinese;
        Win = std::make_unique<Tfrm_DataDebug>(
            TDataDebugOptions{Home.path(), &Prompts, [this] { return CmdFilePath; },
                              [this](const QString& p) { CmdFilePath = p; }, true});
    }
    ~TDebugHarness() {
        Win.reset();
        FreeLang();
    }

    // The showing steps, then shown without a modal loop.
    void Open(const TDataDebugPreset& preset) {
        Win->PrepareShow(preset);
        Win->show();
        QApplication::processEvents();
    }

    template <class T> T* Find(const char* name) const {
        auto* w = Win->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QLineEdit* Edit(const char* name) const { return Find<QLineEdit>(name); }
    QComboBox* Combo(const char* name) const { return Find<QComboBox>(name); }
    QPushButton* Button(const char* name) const { return Find<QPushButton>(name); }
};

} // namespace varnix::test
