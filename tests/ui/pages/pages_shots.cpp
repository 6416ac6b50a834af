// Renders the three parameter pages offscreen in both languages to PNG files, for looking at
// the layout: pages_shots [DIR] (default /tmp/shots) writes pages-<page>-<en|zh>.png.

#include "fake_host.h"
#include "page_modules.h"

#include "core/blocks.h"
#include "ui/main/pages/z1_page.h"
#include "ui/main/pages/z2_page.h"
#include "ui/main/pages/z3_page.h"

#include <QDir>
#include <QScrollArea>

#include <cstdio>

using namespace varnix;
using namespace varnix::pagetest;

namespace {
bool Save(QWidget* w, const QString& path) {
    w->adjustSize();
    const bool ok = w->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}
} // namespace

int main(int argc, char** argv) {
    App();
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/shots");
    QDir().mkpath(dir);
    bool ok = true;
    for (bool chinese : {false, true}) {
        SetChinese(chinese);
        const QString lang = chinese ? QStringLiteral("zh") : QStringLiteral("en");
        TFakeHost host;

        TZ1Page z1(host);
        z1.ApplyTexts();
        z1.resize(420, 560);
        ok &= Save(&z1, dir + QStringLiteral("/pages-z1-") + lang + QStringLiteral(".png"));

        // The Z2 page as after a read of a module with every extended group in use.
        TZ2Page z2(host);
        z2.ApplyTexts();
        TModuleSettings module = Z2Module();
        module.Port.WorkMode = 4;
        module.RegisterType = 2;
        module.Modbus = TModbusParam{1, 1, "200", 0, "1000"};
        z2.ShowSettings(module);
        auto* contents = z2.findChild<QWidget*>(QStringLiteral("ScrollBox1Contents"));
        z2.resize(860, 640);
        z2.show();
        ok &= Save(&z2, dir + QStringLiteral("/pages-z2-") + lang + QStringLiteral(".png"));
        z2.hide();
        contents->resize(860, contents->sizeHint().height());
        ok &= contents->grab().save(dir + QStringLiteral("/pages-z2-full-") + lang + QStringLiteral(".png"));

        TZ3Page z3(host);
        z3.ApplyTexts();
        z3.ShowSettings(Z3Module());
        z3.resize(860, 480);
        ok &= Save(&z3, dir + QStringLiteral("/pages-z3-") + lang + QStringLiteral(".png"));
    }
    return ok ? 0 : 1;
}
