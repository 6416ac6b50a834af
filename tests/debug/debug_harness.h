#pragma once
// The debugging window in a temporary home with scripted prompts and a context of its own.

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
    TAppContext Context{Home.path()};
    TScriptedPrompts Prompts;
    std::unique_ptr<Tfrm_DataDebug> Win;

    explicit TDebugHarness(bool chinese = false) {
        Context.Lang().IsChinese = chinese;
        Make();
    }
    void Make() {
        Win.reset();
        Win = std::make_unique<Tfrm_DataDebug>(Context, TDataDebugOptions{Home.path(), &Prompts, true});
    }
    // An earlier run chose `path` as the command list: the window made now reads it.
    void UseCmdFile(const QString& path) {
        ASSERT_TRUE(SaveCmdFilePath(Context.Settings(), path));
        Make();
    }
    ~TDebugHarness() { Win.reset(); }
    // The window's command-list file as the settings file now holds it.
    QString CmdFilePath() const { return LoadCmdFilePath(Context.Settings(), QString()); }

    // The showing steps, then shown without a modal loop.
    void Open(const TDataDebugPreset& preset, const TDataDebugModule& module = {}) {
        Win->PrepareShow(preset, module);
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
