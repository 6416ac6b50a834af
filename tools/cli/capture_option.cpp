#include "cli/capture_option.h"

#include "engine/outcome.h"

#include <QFile>

#include <cstdio>

namespace varnix::cli {

namespace {

TError Refused(const QString& text) {
    return TError{{}, {}, text.toStdString()};
}

// "--name VALUE" or "--name=VALUE" at args[i]; the value, and i moved past it.
std::optional<QString> TakeValue(QStringList& args, qsizetype i, const QString& name) {
    const QString a = args[i];
    if (a.startsWith(name + u'=')) {
        args.removeAt(i);
        return a.mid(name.size() + 1);
    }
    if (i + 1 >= args.size())
        return std::nullopt;
    const QString value = args[i + 1];
    args.remove(i, 2);
    return value;
}

} // namespace

TResult<std::optional<TCaptureRequest>> TakeCaptureOptions(QStringList& args) {
    TCaptureRequest request;
    request.Options.Application = "varnix-cli " VARNIX_VERSION;
    bool wanted = false, keep = false, limit = false;
    for (qsizetype i = 0; i < args.size();) {
        const QString& a = args[i];
        if (a == QLatin1String("--")) {
            break; // what follows is not an option
        } else if (a == QLatin1String("--capture") || a.startsWith(QLatin1String("--capture="))) {
            const auto value = TakeValue(args, i, QStringLiteral("--capture"));
            if (!value || value->isEmpty())
                return Refused(QStringLiteral("--capture needs a file name"));
            request.Path = *value;
            wanted = true;
        } else if (a == QLatin1String("--capture-keep-login")) {
            args.removeAt(i);
            request.Options.KeepLogin = keep = true;
        } else if (a == QLatin1String("--capture-limit") || a.startsWith(QLatin1String("--capture-limit="))) {
            const auto value = TakeValue(args, i, QStringLiteral("--capture-limit"));
            bool ok = false;
            const qulonglong bytes = value ? value->toULongLong(&ok) : 0;
            if (!ok || bytes < capture::MinimumLimitBytes)
                return Refused(QStringLiteral("--capture-limit: a size in bytes of at least %1, not '%2'")
                                   .arg(capture::MinimumLimitBytes)
                                   .arg(value.value_or(QString())));
            request.Options.LimitBytes = bytes;
            limit = true;
        } else {
            ++i;
        }
    }
    if (!wanted && (keep || limit))
        return Refused(QStringLiteral("--capture-keep-login and --capture-limit need --capture FILE"));
    if (!wanted)
        return std::optional<TCaptureRequest>();
    return std::optional<TCaptureRequest>(std::move(request));
}

int RunWithCapture(QStringList args, int (*run)(const QStringList&, capture::ICaptureSink*)) {
    const TResult<std::optional<TCaptureRequest>> request = TakeCaptureOptions(args);
    if (!request) {
        std::fprintf(stderr, "varnix-cli: %s\n", request.Error().Message.c_str());
        return ToInt(TOutcome::Usage);
    }
    if (!*request)
        return run(args, nullptr);
    std::string error;
    const std::string path = QFile::encodeName((*request)->Path).toStdString();
    const std::unique_ptr<capture::TCapture> capture =
        capture::TCapture::ToFile(path, (*request)->Options, error);
    if (!capture) {
        std::fprintf(stderr, "varnix-cli: --capture: %s\n", error.c_str());
        return ToInt(TOutcome::Local);
    }
    int status = run(args, capture.get());
    capture->Finish();
    const capture::TCaptureStats stats = capture->Stats();
    const std::string note = capture->StopNote();
    std::fprintf(stderr, "varnix-cli: capture %s: %llu packets%s%s\n", path.c_str(),
                 static_cast<unsigned long long>(stats.Packets), note.empty() ? "" : "; ", note.c_str());
    // A capture asked for and not written is this PC's failure, whatever the command's outcome.
    if (stats.WriteFailed)
        status = ToInt(Worse(static_cast<TOutcome>(status), TOutcome::Local));
    return status;
}

} // namespace varnix::cli
