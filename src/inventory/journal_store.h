#pragma once
// Where the change journal lives: the journal table of varnix.db in the program directory. When
// the database cannot be used (its reason is reported once), a save is still recorded: the entry
// goes to journal.jsonl as before the move, and reading falls back to that file.

#include "app/journal.h"
#include "core/result.h"

#include <QString>

namespace varnix {

// Appends one entry. `durable`: on disk before this returns (also across a power cut), for an
// entry the next step depends on.
TStatus AppendJournalEntry(const QString& programDir, TJournalEntry entry, bool durable = false);

// What journal warnings name: varnix.db in the program directory.
QString InventoryJournalName(const QString& programDir);

// Every entry, oldest first; TJournalRead::Error tells why none could be read.
TJournalRead ReadJournalEntries(const QString& programDir);

} // namespace varnix
