#include "app/settings_ini.h"

#include "core/file_read.h"
#include "lang/text_codec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnix {

namespace {

// The name of a section header line ("[Name]"), or nothing for any other line.
std::optional<QStringView> SectionName(QStringView line) {
    const QStringView t = line.trimmed();
    if (!t.startsWith(u'['))
        return std::nullopt;
    const qsizetype close = t.indexOf(u']');
    if (close < 0)
        return std::nullopt;
    return t.mid(1, close - 1).trimmed();
}

bool IsComment(QStringView line) {
    const QStringView t = line.trimmed();
    return t.startsWith(u';') || t.startsWith(u'#');
}

// Key and value of a "key=value" line, or nothing.
std::optional<std::pair<QStringView, QStringView>> KeyValue(QStringView line) {
    if (IsComment(line))
        return std::nullopt;
    const qsizetype eq = line.indexOf(u'=');
    if (eq <= 0)
        return std::nullopt;
    const QStringView key = line.left(eq).trimmed();
    if (key.isEmpty())
        return std::nullopt;
    return std::pair{key, line.mid(eq + 1).trimmed()};
}

bool SameName(QStringView a, QStringView b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool WriteAll(int fd, const char* p, qsizetype left) {
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

} // namespace

TIniDocument TIniDocument::FromBytes(QByteArrayView bytes) {
    return FromText(FileBytesToText(std::string_view(bytes.data(), static_cast<std::size_t>(bytes.size()))));
}

TIniDocument TIniDocument::FromText(QStringView text) {
    TIniDocument doc;
    qsizetype pos = 0;
    while (pos < text.size()) {
        qsizetype end = pos;
        while (end < text.size() && text[end] != u'\r' && text[end] != u'\n')
            ++end;
        doc.lines_.append(text.mid(pos, end - pos).toString());
        const bool crlf = end + 1 < text.size() && text[end] == u'\r' && text[end + 1] == u'\n';
        pos = end + (crlf ? 2 : 1);
    }
    return doc;
}

std::optional<QString> TIniDocument::Value(QStringView section, QStringView key) const {
    bool inSection = false;
    for (const QString& line : lines_) {
        if (auto name = SectionName(line)) {
            inSection = SameName(*name, section);
            continue;
        }
        if (!inSection)
            continue;
        if (auto kv = KeyValue(line); kv && SameName(kv->first, key))
            return kv->second.toString();
    }
    return std::nullopt;
}

void TIniDocument::SetValue(const QString& section, const QString& key, const QString& value) {
    QString clean = value;
    clean.replace(u'\r', u' ');
    clean.replace(u'\n', u' ');
    const QString entry = key + u'=' + clean;

    // Find the first section of that name; remember its last non-blank line.
    qsizetype sectionLine = -1, lastInSection = -1;
    for (qsizetype i = 0; i < lines_.size(); ++i) {
        if (auto name = SectionName(lines_[i])) {
            if (sectionLine >= 0)
                break; // the section ended
            if (SameName(*name, section))
                sectionLine = lastInSection = i;
            continue;
        }
        if (sectionLine < 0)
            continue;
        if (auto kv = KeyValue(lines_[i]); kv && SameName(kv->first, key)) {
            lines_[i] = entry;
            return;
        }
        if (!lines_[i].trimmed().isEmpty())
            lastInSection = i;
    }
    if (sectionLine < 0) {
        lines_.append(u'[' + section + u']');
        lines_.append(entry);
        return;
    }
    lines_.insert(lastInSection + 1, entry);
}

QByteArray TIniDocument::ToBytes() const {
    QString out;
    for (const QString& line : lines_) {
        out.append(line);
        out.append(u"\r\n");
    }
    return out.toUtf8();
}

bool WriteFileAtomically(const QString& path, QByteArrayView data, mode_t mode) {
    const QFileInfo info(path);
    // The rename below would replace a file the user made read-only as long as the directory is
    // writable; a read-only file is the user's "do not change this", so it is left as it is.
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    // Only a regular file is replaced: a symbolic link, a pipe or a device at the path is not
    // the program's file (and the file behind a link is not written through it). The mode bits
    // are checked as well as access(): root may write anything, but a file without a write bit
    // was still made read-only on purpose.
    if (struct stat st{}; ::lstat(target.constData(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            errno = S_ISLNK(st.st_mode) ? ELOOP : EINVAL;
            return false;
        }
        if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(target.constData(), W_OK) != 0) {
            errno = EACCES;
            return false;
        }
    }
    QByteArray tmpl =
        QFile::encodeName(QDir(info.absolutePath())
                              .filePath(QStringLiteral(".") + info.fileName() + QStringLiteral(".XXXXXX")));
    const int fd = ::mkostemp(tmpl.data(), O_CLOEXEC); // created with mode 0600
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, data.data(), data.size()) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok)
        ok = ::rename(tmpl.constData(), target.constData()) == 0;
    if (!ok)
        ::unlink(tmpl.constData());
    return ok;
}

int RemoveStaleTempFiles(const QString& path) {
    const QFileInfo info(path);
    const QDir dir(info.absolutePath());
    const QString prefix = QStringLiteral(".") + info.fileName() + QStringLiteral(".");
    int removed = 0;
    for (const QFileInfo& f :
         dir.entryInfoList({prefix + QStringLiteral("??????")}, QDir::Files | QDir::Hidden | QDir::System)) {
        // Exactly the names mkostemp makes: six letters or digits after the prefix.
        const QString name = f.fileName();
        const QStringView suffix = QStringView(name).mid(prefix.size());
        const bool generated = std::all_of(suffix.begin(), suffix.end(), [](QChar c) {
            return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
        });
        if (generated && !f.isSymLink() && f.isFile() && QFile::remove(f.absoluteFilePath()))
            ++removed;
    }
    return removed;
}

std::optional<TIniDocument> TIniFile::Load() const {
    // A settings file is a few hundred bytes; a device, a link or a huge file is not one, and
    // rewriting it would destroy whatever it is, so it counts as unreadable.
    const auto bytes =
        ReadRegularFile(QFile::encodeName(path_).toStdString(), MaxTextFileBytes, TLinks::Refuse);
    if (!bytes)
        return IsNotFound(bytes.Error()) ? std::optional(TIniDocument{}) : std::nullopt;
    return TIniDocument::FromBytes(QByteArrayView(bytes->data(), static_cast<qsizetype>(bytes->size())));
}

std::optional<QString> TIniFile::Read(QStringView section, QStringView key) const {
    const auto doc = Load();
    return doc ? doc->Value(section, key) : std::nullopt;
}

bool TIniFile::Write(const QString& section, const QString& key, const QString& value) {
    // A file that exists but cannot be read is not overwritten: that would lose its other keys.
    auto doc = Load();
    if (!doc)
        return false;
    doc->SetValue(section, key, value);
    return WriteFileAtomically(path_, doc->ToBytes(), mode_);
}

} // namespace varnix
