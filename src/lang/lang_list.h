#pragma once
// The language list: the built-in texts, the rows of the user's Lang.txt, and the current
// language. Every user-visible text is looked up here by its key.
//
// Lang.txt holds one row per line: name, Chinese text and English text separated by "|".
// Empty lines and lines whose first character is ";" are skipped. In the two texts "///"
// stands for a line break. Rows of the file come before the built-in rows in every lookup.

#include <QLocale>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstddef>

namespace varnix {

inline constexpr QChar LangFieldSeparator = u'|';
inline constexpr QChar LangCommentMark = u';';
inline constexpr QStringView LangLineBreakToken = u"///";
inline constexpr QStringView LangFileName = u"Lang.txt";

// The three fields of one data row of Lang.txt.
struct TLangFields {
    QString Name;
    QString Cn;
    QString En;
    friend bool operator==(const TLangFields&, const TLangFields&) = default;
};

// Splits one data row: the name is the text before the first "|", the Chinese text the text
// between the first and the second "|", the English text the text after the last "|"; a
// missing separator leaves the field empty. "///" in the two texts becomes one line feed.
TLangFields ParseLangLine(QStringView line);

// A generated Lang.txt is about 60 KB; anything far beyond is not a language file.
inline constexpr std::size_t MaxLangFileBytes = 4u << 20;

class TLangList {
public:
    // Rows read from Lang.txt, parallel lists (same index in all three).
    QStringList FileNames;
    QStringList FileCn;
    QStringList FileEn;
    // The built-in table in registration order, parallel lists.
    QStringList BaseNames;
    QStringList BaseCn;
    QStringList BaseEn;
    // The current language: true selects the Chinese column, false the English one.
    bool IsChinese = false;

    // Appends one built-in row.
    void AddText(const QString& Name, const QString& Cn, const QString& En);

    // The text of `Name` in the current language. `Name` is searched, ignoring letter case, in
    // the file's names, Chinese texts and English texts, then likewise in the built-in table;
    // the first hit gives the row. So a text already shown in either language comes back in
    // the current one. A name found nowhere comes back unchanged.
    QString GetText(const QString& Name) const;

    // Writes the default file at `Path` when none exists there, then reads it. A file that
    // cannot be created (read-only directory) is not an error: the built-in rows answer.
    void LoadLangFile(const QString& Path);

    // Appends the data rows of the file at `Path`. A file that cannot be opened or read, that is
    // not a regular file (a link to /dev/zero) or that is larger than MaxLangFileBytes adds
    // nothing; FileError then says why ("Lang.txt: not a regular file"). Returns whether the
    // file was read.
    bool ReadLangFile(const QString& Path);
    // Why the last ReadLangFile read nothing; empty after a successful read.
    QString FileError;
    // Appends the data rows of a file's content (UTF-8, or GBK when not valid UTF-8).
    void ReadLangData(QByteArrayView bytes);

    // Creates or overwrites `Path` with the two header comments, a line holding one space and
    // one row per built-in row (CR LF inside a text written as "///"), UTF-8, lines ending in
    // CR LF. The file is replaced atomically. Returns false when it cannot be written.
    bool WriteLangFile(const QString& Path) const;
    // The content WriteLangFile writes.
    QByteArray LangFileContent() const;

    // True when the system's language is Chinese.
    static bool IsSysChinese();
    // The same test for a given locale.
    static bool IsLocaleChinese(const QLocale& locale);
};

} // namespace varnix
