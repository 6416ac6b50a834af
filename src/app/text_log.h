#pragma once
// Appends records to text files, one line per call, fields joined by "|", lines ending in
// CR LF, UTF-8. Fields are written unchanged (no quoting). Safe from any thread: one
// program-wide lock serialises every file operation, and each line goes out in one write, so
// lines never interleave.

#include "core/result.h"

#include <QString>
#include <QStringList>

namespace varnix {

// Appends `Fields` joined by "|" as one line to `Path`, creating the file when missing.
// An empty list appends an empty line. Fails, naming the file and the cause, when the file
// cannot be created, opened or written.
TStatus WriteTxtLine(const QString& Path, const QStringList& Fields);

} // namespace varnix
