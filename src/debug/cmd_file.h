#pragma once
// The command-list file of the debugging window ("DataSelf.txt" and exported lists): one line per
// command row, five fields joined by "|": selected ("true"/"false"), name, command, hex
// ("true"/"false"), delay in ms. Qt Core only.
//
// Reading: each line is one row, read on its own. Spaces outside double quotes are dropped, a
// field that begins with a double quote runs to its closing quote (a doubled quote inside is one
// quote) or, when the quote is left open, to the end of its line; tabs and other control
// characters also end a field, and a line that does not split into exactly five fields leaves its
// row cleared. Line i feeds row i; only the first 50 lines count. Files with bare fields (no
// quotes at all) read the same way.
//
// Writing quotes every field that holds a space, "|", a double quote or a control character
// (doubling inner quotes), so that reading restores the row. A row must stay on one line: a text
// command holding a line break is written as the same bytes in hex (its hex box checked).

#include "core/result.h"

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

// The fields of one line (spaces outside quotes removed). `pos` starts at the line and ends after
// its line break.
QStringList SplitCmdLine(QStringView text, qsizetype& pos);

// A row from five fields; std::nullopt for any other count.
std::optional<TCmdRow> RowFromFields(const QStringList& fields);

// The line for one row, without its line break (see above for a command holding one).
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
    // A file is there but is not taken as a command list: unreadable, refused, or foreign text.
    bool Refused() const { return !Missing && (!Content || Content->LooksForeign); }
};

// Reads and parses the file at `path` (core/file_read.h). Refuses a symbolic link, anything that is
// not a regular file, a file larger than CmdFileMaxBytes and a binary file (one holding a NUL),
// with a message naming the path. Bytes are UTF-8, or GBK when they are not valid UTF-8
// (GBK-encoded files).
TCmdFileRead ReadCmdFile(const QString& path);

// Replaces the file at `path` with `rows` (UTF-8, CR LF) atomically: a crash or a full disk
// never leaves a half-written list. Only a regular file is replaced: a symbolic link, a pipe or a
// device at `path` is left alone. A failure's message names the path and the cause.
TStatus WriteCmdFile(const QString& path, const std::vector<TCmdRow>& rows);

} // namespace varnix
