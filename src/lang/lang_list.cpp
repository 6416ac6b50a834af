#include "lang/lang_list.h"

#include "core/file_read.h"
#include "lang/text_codec.h"

#include <QFile>
#include <QSaveFile>

namespace varnix {

namespace {

// Header of a generated Lang.txt: two comment lines, then a line of one space.
constexpr QStringView HeaderCn =
    u";语言文件格式为: 名称|中文|英文，竖线分割，逗号与分号为注释，///为换行，空行自动忽略";
constexpr QStringView HeaderEn =
    u";Language file format: Name|Chinese|English，vertical is delimiter， comma or semicolon is "
    u"Comments，///is newline，Empty lines automatically ignored";
constexpr QStringView HeaderBlank = u" ";
constexpr QStringView LineEnd = u"\r\n";

// Index of the first entry equal to `s` ignoring letter case, or -1. Case folding keeps the
// length, so entries of another length are passed over without comparing them (every window's
// texts are looked up at start-up, each through the whole table).
qsizetype FindText(const QStringList& list, QStringView s) {
    for (qsizetype i = 0; i < list.size(); ++i)
        if (list[i].size() == s.size() && QStringView(list[i]).compare(s, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

// The row that holds `s` as a name, else as a Chinese text, else as an English text.
qsizetype FindRow(const QStringList& names, const QStringList& cn, const QStringList& en, QStringView s) {
    qsizetype i = FindText(names, s);
    if (i < 0)
        i = FindText(cn, s);
    if (i < 0)
        i = FindText(en, s);
    return i;
}

QString TokenToLineFeed(QStringView text) {
    QString s = text.toString();
    s.replace(LangLineBreakToken.toString(), QStringLiteral("\n"));
    return s;
}

} // namespace

TLangFields ParseLangLine(QStringView line) {
    TLangFields f;
    const qsizetype first = line.indexOf(LangFieldSeparator);
    if (first < 0)
        return f;
    f.Name = line.left(first).toString();
    const qsizetype second = line.indexOf(LangFieldSeparator, first + 1);
    if (second >= 0)
        f.Cn = TokenToLineFeed(line.mid(first + 1, second - first - 1));
    const qsizetype last = line.lastIndexOf(LangFieldSeparator);
    f.En = TokenToLineFeed(line.mid(last + 1));
    return f;
}

void TLangList::AddText(const QString& Name, const QString& Cn, const QString& En) {
    BaseNames.append(Name);
    BaseCn.append(Cn);
    BaseEn.append(En);
}

QString TLangList::GetText(const QString& Name) const {
    qsizetype i = FindRow(FileNames, FileCn, FileEn, Name);
    if (i >= 0)
        return IsChinese ? FileCn.value(i) : FileEn.value(i);
    i = FindRow(BaseNames, BaseCn, BaseEn, Name);
    if (i >= 0)
        return IsChinese ? BaseCn.value(i) : BaseEn.value(i);
    return Name;
}

void TLangList::LoadLangFile(const QString& Path) {
    if (!QFile::exists(Path))
        WriteLangFile(Path); // failure leaves the built-in rows alone
    ReadLangFile(Path);
}

bool TLangList::ReadLangFile(const QString& Path) {
    if (Path.isEmpty())
        return false;
    const auto bytes = ReadRegularFile(QFile::encodeName(Path).toStdString(), MaxLangFileBytes);
    if (!bytes) {
        FileError = QString::fromLocal8Bit(bytes.Error().Message);
        return false;
    }
    FileError.clear();
    ReadLangData(QByteArrayView(bytes->data(), static_cast<qsizetype>(bytes->size())));
    return true;
}

void TLangList::ReadLangData(QByteArrayView bytes) {
    const QString text =
        FileBytesToText(std::string_view(bytes.data(), static_cast<std::size_t>(bytes.size())));
    // A line ends at CR LF, LF or a lone CR.
    const QStringView all(text);
    qsizetype pos = 0;
    while (pos < all.size()) {
        qsizetype end = pos;
        while (end < all.size() && all[end] != u'\r' && all[end] != u'\n')
            ++end;
        const QStringView line = all.mid(pos, end - pos);
        const bool crlf = end + 1 < all.size() && all[end] == u'\r' && all[end + 1] == u'\n';
        pos = end + (crlf ? 2 : 1);
        if (line.isEmpty() || line.front() == LangCommentMark)
            continue;
        TLangFields f = ParseLangLine(line);
        FileNames.append(std::move(f.Name));
        FileCn.append(std::move(f.Cn));
        FileEn.append(std::move(f.En));
    }
}

QByteArray TLangList::LangFileContent() const {
    QString out;
    for (QStringView header : {HeaderCn, HeaderEn, HeaderBlank}) {
        out.append(header);
        out.append(LineEnd);
    }
    for (qsizetype i = 0; i < BaseNames.size(); ++i) {
        QString cn = BaseCn.value(i), en = BaseEn.value(i);
        cn.replace(QStringLiteral("\r\n"), LangLineBreakToken.toString());
        en.replace(QStringLiteral("\r\n"), LangLineBreakToken.toString());
        out.append(BaseNames[i]);
        out.append(LangFieldSeparator);
        out.append(cn);
        out.append(LangFieldSeparator);
        out.append(en);
        out.append(LineEnd);
    }
    return out.toUtf8();
}

bool TLangList::WriteLangFile(const QString& Path) const {
    QSaveFile file(Path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = LangFileContent();
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool TLangList::IsLocaleChinese(const QLocale& locale) {
    // The system names its language in that language; a Chinese system's name contains "中文".
    return locale.language() == QLocale::Chinese || locale.nativeLanguageName().contains(u"中文");
}

bool TLangList::IsSysChinese() {
    return IsLocaleChinese(QLocale::system());
}

} // namespace varnix
