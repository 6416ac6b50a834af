#include "ui/main/capture_saver.h"

#include "app/app_context.h"
#include "ui/common/prompts.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QMenu>
#include <QWidget>

namespace varnix {

TCaptureSaver::TCaptureSaver(TAppContext& ctx, IUserPrompts& prompts, QMenu* menu, QAction* after,
                             QWidget* window)
    : QObject(window), ctx_(ctx), prompts_(prompts), window_(window), action_(new QAction(window)) {
    action_->setObjectName(QStringLiteral("mni_SaveCapture"));
    const QList<QAction*> items = menu->actions();
    const qsizetype at = items.indexOf(after);
    menu->insertAction(at >= 0 && at + 1 < items.size() ? items[at + 1] : nullptr, action_);
    connect(action_, &QAction::triggered, this, [this] {
        const TOutcome out = Save();
        if (!out.Text.isEmpty())
            emit Done(out.Saved, out.Text);
    });
    ApplyTexts();
}

void TCaptureSaver::ApplyTexts() {
    action_->setText(ctx_.Text("lang_Capture_Menu"));
}

TCaptureSaver::TOutcome TCaptureSaver::Save() {
    const QString suggested =
        QDir(QDir::homePath())
            .filePath(QStringLiteral("varnix-%1.pcapng")
                          .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    const std::optional<QString> path = prompts_.SaveFileName(window_, ctx_.Text("lang_Capture_Menu"),
                                                              suggested, ctx_.Text("lang_Capture_Filter"));
    if (!path || path->isEmpty())
        return {};
    capture::TCapture& capture = ctx_.Capture();
    std::string error;
    if (!capture.SaveAs(path->toStdString(), error)) {
        const QString text = ctx_.Text("lang_Capture_Failed").arg(*path, QString::fromStdString(error));
        prompts_.Message(window_, window_->windowTitle(), text, IUserPrompts::Icon::Critical);
        return {false, text};
    }
    const capture::TCaptureStats stats = capture.Stats();
    QString text = ctx_.Text("lang_Capture_Saved").arg(*path).arg(stats.Packets);
    if (stats.LeftOut > 0)
        text += QStringLiteral(" ") + ctx_.Text("lang_Capture_LeftOut").arg(stats.LeftOut);
    return {true, text};
}

} // namespace varnix
