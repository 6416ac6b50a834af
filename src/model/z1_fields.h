#pragma once
// The fields of the Z1 parameter body (Z1 modules, and Z3 modules on the serial link), under the
// names the LAN fields use for the same settings.

#include "core/records.h"
#include "model/fields.h"

#include <QJsonValue>

#include <functional>
#include <vector>

namespace varnix {

struct TZ1Field {
    TFieldDef Def;   // name, kind, range, items and label key (its Get/Set are unused)
    QString Control; // objectName of the control that holds the field on the Z1 page
    std::function<QJsonValue(const TZ1Params&)> Get;
    std::function<void(TZ1Params&, const QJsonValue&)> Set;
};

const std::vector<TZ1Field>& Z1FieldTable();
const TZ1Field* FindZ1Field(const QString& name);

} // namespace varnix
