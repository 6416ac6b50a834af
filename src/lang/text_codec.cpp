#include "lang/text_codec.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <cerrno>
#include <iconv.h>

namespace varnix {

namespace {

constexpr const char* GbkName = "GBK";

// A converter handle of glibc's iconv, closed when it goes out of scope.
class TIconv {
public:
    TIconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~TIconv() {
        if (valid())
            iconv_close(cd_);
    }
    TIconv(const TIconv&) = delete;
    TIconv& operator=(const TIconv&) = delete;
    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

} // namespace

bool IsValidUtf8(std::string_view bytes) {
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        if (b0 < 0x80) {
            ++i;
            continue;
        }
        std::size_t len = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if ((b0 & 0xE0) == 0xC0) {
            len = 2, cp = b0 & 0x1F, min = 0x80;
        } else if ((b0 & 0xF0) == 0xE0) {
            len = 3, cp = b0 & 0x0F, min = 0x800;
        } else if ((b0 & 0xF8) == 0xF0) {
            len = 4, cp = b0 & 0x07, min = 0x10000;
        } else {
            return false;
        }
        if (n - i < len)
            return false;
        for (std::size_t k = 1; k < len; ++k) {
            const auto b = static_cast<unsigned char>(bytes[i + k]);
            if ((b & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (b & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

bool QtHasGbk() {
    static const bool has = QStringDecoder(GbkName).isValid() && QStringEncoder(GbkName).isValid();
    return has;
}

QString DecodeGbkIconv(std::string_view bytes) {
    TIconv cd("UTF-8", GbkName);
    if (!cd.valid())
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    std::string out;
    out.reserve(bytes.size() * 3 / 2 + 4);
    char buf[1024];
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* o = buf;
        std::size_t oLeft = sizeof buf;
        const std::size_t r = iconv(cd.get(), &in, &inLeft, &o, &oLeft);
        out.append(buf, static_cast<std::size_t>(o - buf));
        if (r != static_cast<std::size_t>(-1))
            break;
        if (errno == E2BIG)
            continue;
        // An invalid or truncated sequence: show one replacement character and skip one byte.
        out.append("\xEF\xBF\xBD");
        ++in;
        --inLeft;
        iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    }
    return QString::fromUtf8(out.data(), static_cast<qsizetype>(out.size()));
}

std::optional<std::string> EncodeGbkIconv(const QString& text) {
    TIconv cd(GbkName, "UTF-8");
    if (!cd.valid())
        return std::nullopt;
    QByteArray utf8 = text.toUtf8();
    std::string out;
    out.reserve(static_cast<std::size_t>(utf8.size()));
    char buf[1024];
    char* in = utf8.data();
    std::size_t inLeft = static_cast<std::size_t>(utf8.size());
    while (inLeft > 0) {
        char* o = buf;
        std::size_t oLeft = sizeof buf;
        const std::size_t r = iconv(cd.get(), &in, &inLeft, &o, &oLeft);
        out.append(buf, static_cast<std::size_t>(o - buf));
        if (r != static_cast<std::size_t>(-1) || errno == E2BIG)
            continue;
        return std::nullopt; // a character without a GBK form
    }
    return out;
}

QString DecodeGbk(std::string_view bytes) {
    if (!QtHasGbk())
        return DecodeGbkIconv(bytes);
    QStringDecoder dec(GbkName);
    return dec.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

std::optional<std::string> EncodeGbk(const QString& text) {
    if (!QtHasGbk())
        return EncodeGbkIconv(text);
    QStringEncoder enc(GbkName);
    QByteArray bytes = enc.encode(text);
    if (enc.hasError())
        return std::nullopt;
    // A codec may substitute a character it cannot map instead of failing: only a text that
    // decodes back to itself has a GBK form.
    std::string out(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    if (DecodeGbk(out) != text)
        return std::nullopt;
    return out;
}

QString BytesToDisplay(std::string_view bytes) {
    if (IsValidUtf8(bytes))
        return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    return DecodeGbk(bytes);
}

std::string DisplayToBytes(const QString& text) {
    // ASCII is the same in GBK and UTF-8; most texts (addresses, numbers, names) are ASCII, and
    // this spares them the converter set-up.
    const bool ascii = std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
    if (ascii) {
        const QByteArray latin = text.toLatin1();
        return std::string(latin.constData(), static_cast<std::size_t>(latin.size()));
    }
    if (auto gbk = EncodeGbk(text))
        return *std::move(gbk);
    const QByteArray utf8 = text.toUtf8();
    return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

QString FileBytesToText(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF"))
        bytes.remove_prefix(3);
    return BytesToDisplay(bytes);
}

} // namespace varnix
