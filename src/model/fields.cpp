#include "model/fields.h"

#include "model/field_codec.h"
#include "model/field_pages.h"
#include "model/field_table.h"

#include "core/convert.h"
#include "lang/error_text.h"
#include "lang/safe_text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace varnix {

using namespace fieldcodec;

namespace {

using S = TModuleSettings;

// A value as an error gives it back: a string as it is, anything else as JSON ("70000", "true").
QString ValueText(const QJsonValue& v) {
    if (v.isString())
        return v.toString();
    const QByteArray json = QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(json.mid(1, json.size() - 2));
}
// A refused value: "Field: why", with the field's name and the text as given.
TError Refused(const TFieldDef& f, const QString& text, const QString& why) {
    return FieldError(f.Name.toStdString(), text.toStdString(), why.toStdString());
}

QString Normalized(QString s) {
    static const QRegularExpression separators(QStringLiteral("[\\s\\-_/]"));
    s = s.toLower();
    s.remove(separators);
    return s;
}

bool GroupPresent(TFieldGroup g, const S& s) {
    switch (g) {
    case TFieldGroup::Base:
    case TFieldGroup::Port:
        return true;
    case TFieldGroup::Cloud:
        return s.HasCloud;
    case TFieldGroup::Heart:
        return s.HasHeart;
    case TFieldGroup::Httpd:
        return s.HasHttpd;
    case TFieldGroup::Modbus:
        return s.ModbusKind != 0;
    }
    return false;
}

std::pair<std::int64_t, std::int64_t> Range(const TFieldDef& f, unsigned families) {
    if (families == FamZ3 && f.MaxZ3 >= 0)
        return {f.MinZ3, f.MaxZ3};
    if (families == FamBoth && f.MaxZ3 >= 0)
        return {std::min(f.Min, f.MinZ3), std::max(f.Max, f.MaxZ3)};
    return {f.Min, f.Max};
}

int EditDistance(const QString& a, const QString& b) {
    std::vector<int> prev(static_cast<std::size_t>(b.size()) + 1), cur(prev.size());
    for (std::size_t j = 0; j < prev.size(); ++j)
        prev[j] = static_cast<int>(j);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        cur[0] = static_cast<int>(i);
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const int sub = prev[static_cast<std::size_t>(j - 1)] + (a[i - 1] == b[j - 1] ? 0 : 1);
            cur[static_cast<std::size_t>(j)] = std::min(
                {prev[static_cast<std::size_t>(j)] + 1, cur[static_cast<std::size_t>(j - 1)] + 1, sub});
        }
        std::swap(prev, cur);
    }
    return prev.back();
}

} // namespace

const std::vector<TFieldDef>& FieldTable() {
    static const std::vector<TFieldDef> table = [] {
        std::vector<TFieldDef> t = BuildFieldTable();
        SetPageControls(t);
        return t;
    }();
    return table;
}

const TFieldDef* FindField(const QString& name) {
    for (const TFieldDef& f : FieldTable())
        if (f.Name.compare(name, Qt::CaseInsensitive) == 0)
            return &f;
    return nullptr;
}

QStringList SimilarFieldNames(const QString& name) {
    std::vector<std::pair<int, QString>> scored;
    const QString low = name.toLower();
    if (low.size() > 40)
        return {}; // no near miss of a field name, and not worth the edit distance
    for (const TFieldDef& f : FieldTable()) {
        const QString fl = f.Name.toLower();
        int d = EditDistance(low, fl);
        if (!low.isEmpty() && (fl.contains(low) || low.contains(fl)))
            d = std::min(d, 1);
        if (d <= std::max<int>(2, static_cast<int>(low.size()) / 3))
            scored.emplace_back(d, f.Name);
    }
    std::stable_sort(scored.begin(), scored.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    QStringList out;
    for (std::size_t i = 0; i < scored.size() && i < 3; ++i)
        out << scored[i].second;
    return out;
}

QString GroupName(TFieldGroup g) {
    switch (g) {
    case TFieldGroup::Base:
        return QStringLiteral("base");
    case TFieldGroup::Port:
        return QStringLiteral("port");
    case TFieldGroup::Cloud:
        return QStringLiteral("cloud");
    case TFieldGroup::Heart:
        return QStringLiteral("heartbeat");
    case TFieldGroup::Httpd:
        return QStringLiteral("httpd");
    case TFieldGroup::Modbus:
        return QStringLiteral("modbus");
    }
    return {};
}

QString FamiliesText(unsigned families) {
    switch (families) {
    case FamZ2:
        return QStringLiteral("Z2");
    case FamZ3:
        return QStringLiteral("Z3");
    case FamBoth:
        return QStringLiteral("Z2/Z3");
    default:
        return QStringLiteral("-");
    }
}

unsigned FamilyBit(std::int32_t family) {
    return family == FamilyZ2 ? FamZ2 : family == FamilyZ3 ? FamZ3 : 0;
}

bool FieldShown(const TFieldDef& f, const TModuleSettings& s) {
    if ((f.Shown & FamilyBit(s.Family)) == 0 || !GroupPresent(f.Group, s))
        return false;
    return f.Group != TFieldGroup::Modbus || s.ModbusKind >= f.MinModbusKind;
}

bool FieldWritable(const TFieldDef& f, const TModuleSettings& s) {
    return (f.Writable & FamilyBit(s.Family)) != 0 && FieldShown(f, s);
}

QString RangeText(const TFieldDef& f, unsigned families) {
    switch (f.Kind) {
    case TFieldKind::Int: {
        auto [lo, hi] = Range(f, families);
        QString t = QStringLiteral("%1..%2").arg(lo).arg(hi);
        if (families == FamBoth && f.MaxZ3 >= 0)
            t = QStringLiteral("Z2 %1..%2, Z3 %3..%4").arg(f.Min).arg(f.Max).arg(f.MinZ3).arg(f.MaxZ3);
        return t;
    }
    case TFieldKind::Enum: {
        QStringList parts;
        for (const TEnumItem& it : f.Items)
            parts << QStringLiteral("%1=%2").arg(it.Value).arg(it.Names.front());
        return parts.join(QStringLiteral(", "));
    }
    case TFieldKind::Bool:
        return QStringLiteral("0|1");
    case TFieldKind::IPv4:
        return QStringLiteral("a.b.c.d");
    case TFieldKind::Mac:
        return QStringLiteral("12 hex digits");
    case TFieldKind::Text:
        return QStringLiteral("text, at most %1 bytes").arg(f.Max);
    case TFieldKind::Data:
        return QStringLiteral("text or hex, at most %1 bytes").arg(f.Max);
    }
    return {};
}

TResult<QJsonValue> ParseFieldText(const TFieldDef& f, const QString& raw) {
    const QString text = f.Kind == TFieldKind::Text || f.Kind == TFieldKind::Data ? raw : raw.trimmed();
    const auto fail = [&f, &raw](const QString& message) { return Refused(f, raw, message); };
    switch (f.Kind) {
    case TFieldKind::Int: {
        static const QRegularExpression digits(QStringLiteral("^[0-9]{1,10}$"));
        if (!digits.match(text).hasMatch())
            return fail(QStringLiteral("'%1' is not a whole number").arg(text));
        return Num(text.toLongLong());
    }
    case TFieldKind::Enum: {
        static const QRegularExpression digits(QStringLiteral("^[0-9]{1,6}$"));
        if (digits.match(text).hasMatch())
            return Num(text.toInt());
        const QString n = Normalized(text);
        for (const TEnumItem& it : f.Items)
            for (const QString& name : it.Names)
                if (Normalized(name) == n)
                    return Num(it.Value);
        return fail(QStringLiteral("'%1' is not one of %2").arg(text, RangeText(f)));
    }
    case TFieldKind::Bool: {
        const QString t = text.toLower();
        if (t == QLatin1String("1") || t == QLatin1String("true") || t == QLatin1String("yes") ||
            t == QLatin1String("on"))
            return QJsonValue(true);
        if (t == QLatin1String("0") || t == QLatin1String("false") || t == QLatin1String("no") ||
            t == QLatin1String("off"))
            return QJsonValue(false);
        return fail(QStringLiteral("'%1' is not 0 or 1").arg(text));
    }
    case TFieldKind::IPv4: {
        // Latin-1 would turn a character outside it into '?', never into a digit or a dot.
        const std::optional<std::uint32_t> ip = ParseIPv4Text(text.toLatin1().toStdString());
        if (!ip)
            return fail(QStringLiteral("'%1' is not an IPv4 address a.b.c.d (each part 0-255)").arg(text));
        return QJsonValue(QString::fromStdString(IntToIPText(*ip)));
    }
    case TFieldKind::Mac: {
        static const QRegularExpression separators(QStringLiteral("[\\s:\\-]"));
        QString hex = text;
        hex.remove(separators);
        static const QRegularExpression twelve(QStringLiteral("^[0-9A-Fa-f]{12}$"));
        if (!twelve.match(hex).hasMatch())
            return fail(QStringLiteral("'%1' is not a MAC address (12 hex digits)").arg(text));
        hex = hex.toUpper();
        QStringList pairs;
        for (int i = 0; i < 12; i += 2)
            pairs << hex.mid(i, 2);
        return QJsonValue(pairs.join(QLatin1Char(' ')));
    }
    case TFieldKind::Text:
    case TFieldKind::Data:
        if (text.contains(QChar(0)))
            return fail(QStringLiteral("the text holds a NUL character"));
        return QJsonValue(text);
    }
    return fail(QStringLiteral("unknown field kind"));
}

bool WholeNumberInRange(double d) {
    // Every field's values fit in 0..2^32; 2^53 keeps every whole double exact. The test is
    // written so that NaN fails it, and it runs before any conversion to an integer.
    return d >= 0 && d <= 9007199254740992.0 && std::floor(d) == d;
}

TResult<QJsonValue> ParseFieldJson(const TFieldDef& f, const QJsonValue& v) {
    if (v.isString())
        return ParseFieldText(f, v.toString());
    if (v.isBool()) {
        if (f.Kind == TFieldKind::Bool)
            return v;
        if (f.Kind == TFieldKind::Int || f.Kind == TFieldKind::Enum)
            return Num(v.toBool() ? 1 : 0);
    }
    if (v.isDouble()) {
        const double d = v.toDouble();
        if (WholeNumberInRange(d)) {
            if (f.Kind == TFieldKind::Int || f.Kind == TFieldKind::Enum)
                return v;
            if (f.Kind == TFieldKind::Bool && (d == 0 || d == 1))
                return QJsonValue(d == 1);
            if (f.Kind == TFieldKind::Text || f.Kind == TFieldKind::Data)
                return QJsonValue(QString::number(static_cast<std::int64_t>(d)));
        }
    }
    if (v.isDouble() && !WholeNumberInRange(v.toDouble()))
        return Refused(
            f, ValueText(v),
            QStringLiteral("a JSON value of the wrong type: %1 is not a whole number from 0 to 2^53")
                .arg(v.toDouble()));
    return Refused(f, ValueText(v), QStringLiteral("a JSON value of the wrong type"));
}

TStatus CheckRange(const TFieldDef& f, const QJsonValue& v, unsigned families) {
    const auto fail = [&f, &v](const QString& message) -> TStatus {
        return Refused(f, ValueText(v), message);
    };
    switch (f.Kind) {
    case TFieldKind::Int: {
        auto [lo, hi] = Range(f, families);
        const std::int64_t n = AsInt(v);
        if (n < lo || n > hi)
            return fail(QStringLiteral("%1 is outside %2..%3").arg(n).arg(lo).arg(hi));
        return {};
    }
    case TFieldKind::Enum: {
        const std::int64_t n = AsInt(v);
        for (const TEnumItem& it : f.Items)
            if (it.Value == n)
                return {};
        return fail(QStringLiteral("%1 is not one of %2").arg(n).arg(RangeText(f)));
    }
    case TFieldKind::Text: {
        // Commands carry the log-in without spaces, so a stored name with one could never log in.
        if ((f.Name == QLatin1String("UserName") || f.Name == QLatin1String("Password")) &&
            v.toString().contains(QLatin1Char(' ')))
            return fail(QStringLiteral("a log-in text cannot hold spaces"));
        const std::size_t n = TextBytes(v.toString()).size();
        if (static_cast<std::int64_t>(n) > f.Max)
            return fail(QStringLiteral("%1 bytes, at most %2 fit").arg(n).arg(f.Max));
        return {};
    }
    default:
        return {};
    }
}

bool DataIsHex(const TFieldDef& f, const TModuleSettings& s) {
    return HeartBit(s, f.Name == QLatin1String("HeartbeatData") ? HHeartHex : HRegHex);
}

TStatus CheckDataValue(const TFieldDef& f, const QJsonValue& v, bool hex) {
    std::size_t n = 0;
    if (hex) {
        const auto bytes = StrictHex(v.toString());
        if (!bytes)
            return Refused(f, v.toString(),
                           QStringLiteral("'%1' is not hex pairs (the Hex switch is on)").arg(v.toString()));
        n = bytes->size();
    } else {
        n = TextBytes(v.toString()).size();
    }
    if (static_cast<std::int64_t>(n) > f.Max)
        return Refused(f, v.toString(), QStringLiteral("%1 bytes, at most %2 fit").arg(n).arg(f.Max));
    return {};
}

QString DisplayValue(const TFieldDef& f, const QJsonValue& v) {
    if (v.isNull() || v.isUndefined())
        return QStringLiteral("(not reported)");
    switch (f.Kind) {
    case TFieldKind::Int:
        return QString::number(AsInt(v));
    case TFieldKind::Enum: {
        const std::int64_t n = AsInt(v);
        for (const TEnumItem& it : f.Items)
            if (it.Value == n)
                return QStringLiteral("%1 (%2)").arg(n).arg(it.Names.front());
        return QString::number(n);
    }
    case TFieldKind::Bool:
        return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    // Texts come from modules and files: escaped, so a value is one line and plain characters.
    default:
        return EscapeForTerminal(v.toString());
    }
}

TResult<TAssignment> ParseAssignment(const QString& text) {
    const qsizetype eq = text.indexOf(QLatin1Char('='));
    if (eq <= 0)
        return TError{"", text.toStdString(),
                      QStringLiteral("'%1' is not NAME=VALUE").arg(text).toStdString()};
    const QString name = text.left(eq).trimmed();
    const TFieldDef* f = FindField(name);
    if (!f) {
        QString message = QStringLiteral("unknown field '%1'").arg(name);
        const QStringList near = SimilarFieldNames(name);
        if (!near.isEmpty())
            message += QStringLiteral(" (did you mean %1?)").arg(near.join(QStringLiteral(", ")));
        message += QStringLiteral("; 'varnix-cli fields' lists them");
        return TError{"", name.toStdString(), message.toStdString()};
    }
    const QString valueText = text.mid(eq + 1);
    if (f->Writable == 0)
        return Refused(*f, valueText, QStringLiteral("read-only (%1)").arg(f->Help));
    const TResult<QJsonValue> value = ParseFieldText(*f, valueText);
    if (!value)
        return value.Error();
    if (const TStatus range = CheckRange(*f, *value, FamBoth); !range)
        return TError{range.Error().Field, valueText.toStdString(), range.Error().Message};
    return TAssignment{f, *value};
}

QStringList ApplyAssignments(TModuleSettings& s, const QList<TAssignment>& list) {
    QStringList errors;
    const unsigned fam = FamilyBit(s.Family);
    for (const TFieldDef& f : FieldTable()) {
        for (const TAssignment& a : list) {
            if (a.Field != &f)
                continue;
            const QJsonValue current = FieldShown(f, s) ? f.Get(s) : QJsonValue(QJsonValue::Undefined);
            if (current == a.Value)
                continue; // unchanged: passes whatever its range
            if (!FieldWritable(f, s)) {
                QString why;
                if ((f.Writable & fam) == 0)
                    why = (f.Shown & fam)
                              ? QStringLiteral("a %1 save does not write it").arg(FamiliesText(fam))
                              : QStringLiteral("%1 modules have no such field").arg(FamiliesText(fam));
                else if (f.Group == TFieldGroup::Modbus && s.ModbusKind != 0)
                    why = QStringLiteral("the module's Modbus reply (kind %1) has no polling settings")
                              .arg(s.ModbusKind);
                else
                    why =
                        QStringLiteral("the module sent no %1 settings in the read").arg(GroupName(f.Group));
                errors << QStringLiteral("%1: cannot be set: %2").arg(f.Name, why);
                continue;
            }
            TStatus ok = CheckRange(f, a.Value, fam);
            if (ok && f.Kind == TFieldKind::Data)
                ok = CheckDataValue(f, a.Value, DataIsHex(f, s));
            if (!ok) {
                errors << ErrorMessage(ok.Error());
                continue;
            }
            f.Set(s, a.Value);
        }
    }
    return errors;
}

QList<TFieldChange> DiffSettings(const TModuleSettings& a, const TModuleSettings& b) {
    QList<TFieldChange> out;
    for (const TFieldDef& f : FieldTable()) {
        const bool inA = FieldShown(f, a), inB = FieldShown(f, b);
        if (!inA && !inB)
            continue;
        const QJsonValue va = inA ? f.Get(a) : QJsonValue(QJsonValue::Null);
        const QJsonValue vb = inB ? f.Get(b) : QJsonValue(QJsonValue::Null);
        if (va != vb)
            out.push_back(TFieldChange{&f, va, vb});
    }
    return out;
}

} // namespace varnix
