#include "serial/delay_with_messages.h"

#include <QEventLoop>
#include <QTimer>

namespace varnix {

void DelayWithMessages(int ms) {
    if (ms <= 0)
        return;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(ms);
    loop.exec();
}

} // namespace varnix
