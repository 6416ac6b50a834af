#pragma once
// The change journal: one JSON line per save, appended to journal.jsonl in the program
// directory, by the window and the command-line tool alike, over the LAN or a serial line.
//
//   {"time":"2026-12-09T02:10:34.120Z","mac":"00 1A 2B 3C 4D 5E","ip":"10.77.0.50","name":"Line-1",
//    "family":"Z2","link":"lan","changes":[{"field":"BaudRate","old":9600,"new":115200}],
//    "acks":["0x05 K","0x06 K","0x02 K"],"outcome":"verified"}
//
// Each line goes to the file in one write() on a descriptor opened with O_APPEND, so lines of
// two processes never interleave and a process killed mid-save leaves whole lines behind; at
// worst the last line is cut short, and the reader skips it with a warning.

#include "core/result.h"

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstddef>

namespace varnix {

struct TJournalChange {
    QString Field;
    QJsonValue Old, New; // Null when not known
};

struct TJournalEntry {
    int Number = 0; // line number in the file (1-based); set by the reader
    QString Time;   // UTC, ISO 8601 with milliseconds; filled in by AppendJournal when empty
    QString Mac, Ip, Name, Family;
    QString Link = QStringLiteral("lan"); // "lan" or "serial"
    QList<TJournalChange> Changes;
    QStringList Acks; // "0x05 K", "0x06 P", "0x05 checksum" ... in arrival order
    QString Outcome;  // "verified", "saved", "sent", "unverified", "no-answer", "password", "error" ...
};

inline constexpr const char* JournalFileName = "journal.jsonl";

// journal.jsonl inside `programDir`.
QString JournalPath(const QString& programDir);

// The entry as one compact JSON line, newline included.
QByteArray JournalLine(const TJournalEntry& entry);

// Appends one line with a single write() on an O_APPEND descriptor (created with mode 0600: the
// values may include log-in fields). Fails, naming the path, when the file cannot be opened or
// the write came up short.
TStatus AppendJournal(const QString& path, TJournalEntry entry);

struct TJournalRead {
    QList<TJournalEntry> Entries; // in file order; Number is the line number
    QStringList Warnings;         // "line 7: ..." for every line that was skipped
    QString Error; // the file is there but was not read: "cannot read PATH: a symbolic link", ...
};

// A journal above this size is refused rather than read into memory (at a few hundred bytes a
// line, over half a million entries).
inline constexpr std::size_t MaxJournalBytes = 256u << 20;

// Parses a journal. A line that is not a JSON object (the cut-short last line of a killed
// process, or a damaged one) is skipped with a warning; blank lines are ignored.
TJournalRead ParseJournal(const QByteArray& data);

// Reads and parses the file; a missing file is an empty journal.
TJournalRead ReadJournal(const QString& path);

} // namespace varnix
