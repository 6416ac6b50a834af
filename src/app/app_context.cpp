#include "app/app_context.h"

#include "app/app_paths.h"
#include "app/settings_ini.h"
#include "lang/app_lang.h"

#include <QDir>

#include <cstdio>

namespace varnix {

TAppContext::TAppContext(const QString& programDir)
    : programDir_(programDir), settings_(ProgramFilePath(programDir, IniFileName.toString())) {
    RegisterBuiltinTexts(lang_);
    lang_.LoadLangFile(QDir(programDir).filePath(LangFileName.toString()));
    // The built-in texts answer in its place; the reason goes to the terminal and the main
    // window's log.
    if (!lang_.FileError.isEmpty())
        std::fprintf(stderr, "varnix: %s\n", qPrintable(lang_.FileError));
    RemoveStaleTempFiles(settings_.Path());
    capture::TCaptureOptions captureOptions;
    captureOptions.Application = "varnix " VARNIX_VERSION;
    capture_ = capture::TCapture::InMemory(captureOptions);
}

QString TAppContext::Text(const QString& key) const {
    return LookUpText(lang_, key);
}

} // namespace varnix
