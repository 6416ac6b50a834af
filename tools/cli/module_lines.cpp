#include "cli/module_lines.h"

#include "lang/safe_text.h"
#include "lang/text_codec.h"

namespace varnix::cli {

namespace {

// A column: the text padded to `width`; longer texts are kept whole.
QString Cell(const QString& text, int width) {
    return text.leftJustified(width, QLatin1Char(' '));
}

} // namespace

QString TerminalText(const std::string& wireBytes) {
    return EscapeForTerminal(BytesToDisplay(wireBytes));
}

QString SearchHeader() {
    return QStringLiteral("%1 %2 %3 %4 %5 %6")
        .arg(Cell(QStringLiteral("IP"), 16), Cell(QStringLiteral("NAME"), 16),
             Cell(QStringLiteral("MAC"), 18), Cell(QStringLiteral("FIRMWARE"), 9),
             Cell(QStringLiteral("FAMILY"), 13), QStringLiteral("LOCAL"));
}

QString SearchRow(const TFoundModule& m) {
    // The address texts come from the endpoint, but they are escaped too: they are cheap to
    // check and a row must stay one row.
    return QStringLiteral("%1 %2 %3 %4 %5 %6")
        .arg(Cell(TerminalText(m.Ip), 16), Cell(TerminalText(m.Name), 16), Cell(TerminalText(m.Mac), 18),
             Cell(QString::number(m.Firmware), 9), Cell(FamilyText(m.Family), 13), TerminalText(m.Local));
}

QString ModuleTitle(const TFoundModule& m) {
    return QStringLiteral("%1  %2  %3  %4 firmware %5 (on %6)")
        .arg(TerminalText(m.Mac), TerminalText(m.Name), TerminalText(m.Ip), FamilyText(m.Family),
             QString::number(m.Firmware), TerminalText(m.Local));
}

} // namespace varnix::cli
