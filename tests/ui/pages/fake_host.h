#pragma once
// A stand-in for the main window: records what a page asks of its host.

#include "app/app_context.h"
#include "core/block_store.h"
#include "lang/app_lang.h"
#include "ui/main/pages/page_host.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <utility>
#include <vector>

namespace varnix::pagetest {

// One application and one context for the whole test program (offscreen platform).
inline TAppContext& Context() {
    static int argc = 1;
    static char arg0[] = "test_pages";
    static char* argv[] = {arg0, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    static QTemporaryDir home;
    static TAppContext context(home.path());
    (void)app;
    return context;
}
inline QApplication& App() {
    Context();
    return *qApp;
}

inline void SetChinese(bool chinese) {
    Context().Lang().IsChinese = chinese;
}

class TFakeHost final : public IPageHost {
public:
    std::vector<int> Modes;
    std::vector<std::pair<QString, QColor>> Log;
    int DataDebugOpened = 0;
    TScriptedPrompts Scripted;
    TBlockStore BlockStore;

    void SetPageMode(int mode) override { Modes.push_back(mode); }
    void WriteLog(const QString& text, const QColor& colour) override { Log.emplace_back(text, colour); }
    IUserPrompts& Prompts() override { return Scripted; }
    void OpenDataDebug() override { ++DataDebugOpened; }
    const TTexts& Texts() const override { return texts_; }

private:
    TTexts texts_{Context().Lang()};
};

} // namespace varnix::pagetest
