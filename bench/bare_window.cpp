// The reference of bench_startup.py: a bare Qt 6 window (a QWidget of the main window's size with
// a label), started and measured as varnix is.
#include "ui/common/startup_probe.h"

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("bare"));
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(QStringLiteral("A bare Qt window"), &window));
    window.resize(800, 600);
    varnix::TStartupProbe::InstallIfAsked(window);
    window.show();
    return QApplication::exec();
}
