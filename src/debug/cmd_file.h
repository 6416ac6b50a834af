#pragma once
// The command-list file of the debugging window ("DataSelf.txt" and exported lists): one line per
// command row, five fields joined by "|": selected ("true"/"false"), name, command, hex
// ("true"/"false"), delay in ms. Qt Core only.
//
// Reading follows the old tool's rules, so its files load exactly as they did: spaces outside
// double quotes are dropped, a field that begins with a double quote runs to its closing quote
// (a doubled quote inside is one quote), tabs and other control characters also end a field, and
// a line that does not split into exactly five fields leaves its row cleared. Line i feeds row i;
// only the first 50 lines count.
//
// Writing quotes every field that holds a space, "|", a double quote or a control character
// (doubling inner quotes), so that reading restores every row exactly. The old tool wrote every
// field bare, which lost spaces and broke rows holding "|".

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace varnix {

inline constexpr int CmdRowCount = 50;
// Files larger than this are refused: a full list of long commands is a few tens of KiB.
inline constexpr qint64 CmdFileMaxBytes = 1024 * 1024;

struct TCmdRow {
    bool Choose = false;
    QString Name;
    QString Cmd;
    bool Hex = false;
    QString Delay;
    bool operator==(const TCmdRow&) const = default;
};

// The fields of one logical line as the old tool split them (spaces outside quotes removed).
// `pos` starts at the line and ends after its line break. A quoted field may span a line break
// when its closing quote follows later in the text.
QStringList SplitCmdLine(QStringView text, qsizetype& pos);

// A row from five fields; std::nullopt for any other count.
std::optional<TCmdRow> RowFromFields(const QStringList& fields);

// The line for one row, without its line break.
QString FormatCmdLine(const TCmdRow& row);

// The whole file text: every row's line followed by CR LF.
QString FormatCmdFile(const std::vector<TCmdRow>& rows);

struct TCmdFileContent {
    // One entry per line read (at most CmdRowCount); std::nullopt for a malformed line.
    std::vector<std::optional<TCmdRow>> Rows;
    // True when no line at all splits into five fields although the file has text.
    bool LooksForeign = false;
};

// Parses the text of a file (already decoded).
TCmdFileContent ParseCmdFile(QStringView text);

struct TCmdFileRead {
    std::optional<TCmdFileContent> Content;
    // Why the file was not read (when Content is empty): the path and the cause.
    QString Error;
    bool Missing = false;
};

// Reads and parses the file at `path`. Refuses anything that is not a regular file or is larger
// than CmdFileMaxBytes, with a message naming the path. Bytes are UTF-8, or GBK when they are
// not valid UTF-8 (files of the old tool).
TCmdFileRead ReadCmdFile(const QString& path);

// Replaces the file at `path` with `rows` (UTF-8, CR LF) atomically: a crash or a full disk
// never leaves a half-written list. Returns false with a message naming the path on failure.
bool WriteCmdFile(const QString& path, const std::vector<TCmdRow>& rows, QString* error = nullptr);

} // namespace varnix
