#pragma once
// The rollout window's logic without widgets: the options as typed turned into the job's options
// (through the parsers the command line uses), and each module's row of the job turned into the
// texts of one table line in the current language.

#include "core/result.h"
#include "upgrade/rollout_job.h"

#include <QString>

#include <vector>

namespace varnix {

class TTexts;

// The options as the window's controls hold them.
struct TRolloutForm {
    QString ImageFile;
    QString Local;    // empty: the address the modules answer on
    QString Parallel; // 1..256
    QString Canary;   // 0..: modules that go first
    QString Expect;   // empty: any changed firmware number
    QString Pool;     // empty: none; else "FIRST-LAST"
    QString FactoryLogin = QStringLiteral("vesta:vesta");
    bool KeepConfig = true;
};

// The job's options from the form: the image read (a regular file, its 4-byte signature first)
// and every text checked. A TError names the control at fault in Field ("image", "local",
// "parallel", "canary", "expect", "pool", "factoryLogin") with the refused text; nothing of the
// modules, the log-in now or the program directory is set here.
TResult<TRolloutOptions> RolloutOptionsOf(const TRolloutForm& form);

// A refusal of RolloutOptionsOf in the current language.
QString FormErrorText(const TTexts& texts, const TError& error);

// One table line: the module's columns as shown.
struct TRolloutLine {
    QString Mac, Address, Stage, Progress, Firmware, Result, Detail;
};

// `address`: where the device list last saw the module, shown until the job has its own.
TRolloutLine LineOf(const TTexts& texts, const TRolloutModule& module, const QString& address = {});

// "N module(s): d done, s skipped, f failed, n not started".
QString RolloutSummary(const TTexts& texts, const std::vector<TRolloutModule>& modules);

} // namespace varnix
