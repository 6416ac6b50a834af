#pragma once
// Profiles: a module's settings as a JSON file, to be applied to other modules.
//
//   {"format": "varnix-profile", "version": 1, "family": "Z2", "firmware": 4017,
//    "source": {"mac": "00 1A 2B 3C 4D 5E", "ip": "10.77.0.50", "name": "Line-1"},
//    "fields": {"StaticIP": "10.77.0.50", "BaudRate": 115200, "WorkMode": 3, "BaudSync": true, ...}}
//
// "fields" holds every field the module showed that a save writes. Integers and enumerations
// are numbers (an enumeration may also be given by its item name), switches are booleans (0/1
// also do), the rest are strings.

#include "model/fields.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace varnix {

struct TProfileSource {
    QString Mac, Ip, Name;
};

QByteArray WriteProfile(const TModuleSettings& s, const TProfileSource& source);

struct TProfile {
    std::int32_t Family = FamilyUnknown; // of the module it was saved from (0 when not given)
    QList<TAssignment> Assignments;
};

// Reads and checks a profile: valid JSON, the format tag, known and writable field names, values
// of the right type. Ranges are checked against each module when the profile is applied (a
// value equal to the module's own always passes). Every problem is listed in `errors`.
std::optional<TProfile> ReadProfile(const QByteArray& data, QStringList* errors);

struct TProfileApplication {
    QList<TAssignment> Applied; // what goes to this module
    QStringList Skipped;        // "ModName: identity (use --with-identity)", "DeviceNo: ...", ...
};

// Picks the assignments for one module: identity fields only with `withIdentity`; fields the
// module does not show or its family's save does not write are skipped with the reason.
TProfileApplication SelectForModule(const TProfile& profile, const TModuleSettings& target,
                                    bool withIdentity);

} // namespace varnix
