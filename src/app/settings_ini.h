#pragma once
// A small INI reader and writer that keeps a file as the user or another program left it: the
// order of sections and keys, comments and unknown lines all stay, an existing key is
// replaced on its own line, a new key goes to the end of its section, a new section to the
// end of the file. Names of sections and keys are matched ignoring letter case; the first
// match counts. Keys and values are trimmed of surrounding blanks, as profile files are read.
//
// The file is read afresh for every lookup and written out at once for every change, and
// every write replaces the whole file atomically (a temporary file in the same directory,
// then a rename), so a crash never leaves a truncated file.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>
#include <sys/types.h>

namespace varnix {

// The text of one INI file, line by line.
class TIniDocument {
public:
    // From a file's bytes: UTF-8, or GBK when not valid UTF-8 (GBK-encoded files).
    static TIniDocument FromBytes(QByteArrayView bytes);
    static TIniDocument FromText(QStringView text);

    // The value of `key` in `section`, or nothing when either is missing.
    std::optional<QString> Value(QStringView section, QStringView key) const;
    // Sets `key` in `section`. A line break inside `value` would split the line and could plant
    // other keys, so CR and LF are written as spaces.
    void SetValue(const QString& section, const QString& key, const QString& value);

    // The whole text, every line ending in CR LF, as UTF-8 without a byte-order mark.
    QByteArray ToBytes() const;
    const QStringList& Lines() const { return lines_; }

private:
    QStringList lines_;
};

// Writes `data` to `path` through a temporary file in the same directory (".NAME.XXXXXX") that is
// then renamed over `path`. A new file gets `mode`; an existing file keeps `mode` too (the
// settings file holds a password, so it is never left readable by others). Returns false (and
// the file untouched) when any step fails, when `path` exists but is not writable, and when it is
// anything but a regular file: a symbolic link is neither followed nor replaced.
bool WriteFileAtomically(const QString& path, QByteArrayView data, mode_t mode);

// Removes the temporary files WriteFileAtomically leaves behind for `path` when the program is
// killed between creating and renaming one. Returns how many were removed.
int RemoveStaleTempFiles(const QString& path);

// An INI file on disk.
class TIniFile {
public:
    explicit TIniFile(QString path, mode_t mode = 0600) : path_(std::move(path)), mode_(mode) {}
    const QString& Path() const { return path_; }

    // A missing or unreadable file reads as empty; so does a symbolic link and anything else that
    // is not a regular file, and a file larger than MaxTextFileBytes.
    std::optional<QString> Read(QStringView section, QStringView key) const;
    // Reads the file, sets the key, writes the file. False when the write fails, and when the
    // file exists but cannot be read (rewriting it would lose its other keys).
    bool Write(const QString& section, const QString& key, const QString& value);

private:
    std::optional<TIniDocument> Load() const; // nothing when present but unreadable
    QString path_;
    mode_t mode_;
};

} // namespace varnix
