#pragma once
// The fields varnix-cli reads and writes, by name: every field of the base and port records,
// the registration type, and the cloud, heartbeat/registration, HTTPD and Modbus settings.
// Each field knows the families that show and write it, its range or items, and how to take its
// value from and put it into TModuleSettings. Values travel as QJsonValue: numbers for integers
// and enumerations, booleans for switches, strings for everything else.

#include "core/result.h"
#include "model/module_settings.h"

#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace varnix {

enum class TFieldGroup { Base, Port, Cloud, Heart, Httpd, Modbus };
enum class TFieldKind { Int, Enum, Bool, IPv4, Text, Mac, Data };

inline constexpr unsigned FamZ2 = 1, FamZ3 = 2, FamBoth = 3;

struct TEnumItem {
    int Value = 0;
    QStringList Names; // the first one is shown; any of them (or the number) is accepted
};

struct TFieldDef {
    QString Name;
    TFieldGroup Group = TFieldGroup::Base;
    TFieldKind Kind = TFieldKind::Int;
    unsigned Shown = FamBoth;            // families whose read shows the field
    unsigned Writable = FamBoth;         // families whose save writes it
    bool Identity = false;               // static IP, module name, user MAC
    std::int64_t Min = 0, Max = 0;       // Int: range; Text/Data: at most Max bytes on the wire
    std::int64_t MinZ3 = -1, MaxZ3 = -1; // a different range for Z3 modules (when >= 0)
    int MinModbusKind = 0;               // Modbus fields: the reply kind that carries the field
    std::vector<TEnumItem> Items;
    QString Help;
    // Where the window shows the field: the objectName of the control that holds it on the Z2 page
    // and on the Z3 page (null when the page has none), and the text key of its label (null: the
    // control's own caption names it).
    QString Z2Control, Z3Control;
    QString LabelKey;
    std::function<QJsonValue(const TModuleSettings&)> Get;        // Null when the module did not report it
    std::function<void(TModuleSettings&, const QJsonValue&)> Set; // value already checked
};

const std::vector<TFieldDef>& FieldTable();
// Case-insensitive lookup; null when there is no such field.
const TFieldDef* FindField(const QString& name);
// Names close to `name` (for "did you mean"), at most three.
QStringList SimilarFieldNames(const QString& name);

QString GroupName(TFieldGroup g);
// "Z2", "Z3", "Z2/Z3".
QString FamiliesText(unsigned families);
unsigned FamilyBit(std::int32_t family);

// Whether the module shows the field: its family, and the block the field lives in was sent.
bool FieldShown(const TFieldDef& f, const TModuleSettings& s);
bool FieldWritable(const TFieldDef& f, const TModuleSettings& s);

// Range text for `varnix-cli fields` ("1..65535", "NONE|ODD|..."), for one family bit or both.
QString RangeText(const TFieldDef& f, unsigned families = FamBoth);

// True when `d` is a whole number in 0..2^53 (NaN and infinities are not). Numbers from files
// pass this before anything converts them to an integer.
bool WholeNumberInRange(double d);

// Reads a value typed by a user. Accepts for Int a decimal number; for Enum the number or any
// item name (case, spaces, '-', '_' and '/' ignored); for Bool 1/0, true/false, yes/no, on/off;
// for IPv4 a dotted quad (ParseIPv4Text; given back in its canonical form); for Mac twelve hex digits with
// optional ' ', ':' or '-' separators; Text and Data any text. Range checks are separate (CheckRange).
// A failure names the field and the text as given: "BaudRate: '9600.5' is not a whole number".
TResult<QJsonValue> ParseFieldText(const TFieldDef& f, const QString& text);
// A value from a JSON file: a number, a boolean or a string (then read as ParseFieldText does).
TResult<QJsonValue> ParseFieldJson(const TFieldDef& f, const QJsonValue& v);
// Whether the module's settings give a Data field as hex pairs (its Hex switch).
bool DataIsHex(const TFieldDef& f, const TModuleSettings& s);
// A Data value against its Hex switch: hex pairs only when `hex`, and at most Max bytes either way.
TStatus CheckDataValue(const TFieldDef& f, const QJsonValue& v, bool hex);

// Range and length checks for a family bit (FamZ2, FamZ3, or FamBoth: the widest range).
// Data fields are checked against their hex flag when the settings are applied.
// A failure names the field and the value ("LocalPort: 0 is outside 1..65535").
TStatus CheckRange(const TFieldDef& f, const QJsonValue& v, unsigned families);

// A value as a person reads it: "3 (TCP Server)", "115200", "1", "10.77.0.50".
QString DisplayValue(const TFieldDef& f, const QJsonValue& v);

struct TAssignment {
    const TFieldDef* Field = nullptr;
    QJsonValue Value;
};

// Parses "NAME=VALUE": a known, writable field and a value that reads and lies in the field's
// widest range (the module's family narrows it when the value is applied). The error's message is
// the line varnix-cli prints; its Field is empty when no known field was named.
TResult<TAssignment> ParseAssignment(const QString& text);

struct TFieldChange {
    const TFieldDef* Field = nullptr;
    QJsonValue Old;
    QJsonValue New;
};

// Applies the assignments in field-table order (so a Hex switch is applied before its data).
// A value equal to the module's present one always passes; another value must be writable for
// this module and in range. Returns the errors, one per refused assignment ("Field: why");
// `s` holds the accepted ones.
QStringList ApplyAssignments(TModuleSettings& s, const QList<TAssignment>& list);

// Fields whose value differs between `a` and `b`, in table order (fields shown by either).
QList<TFieldChange> DiffSettings(const TModuleSettings& a, const TModuleSettings& b);

} // namespace varnix
