#pragma once
// The field catalogue's rows: every parameter once, with its group, families, accessors and range
// or items (without the page controls, which FieldTable() adds).

#include "model/fields.h"

#include <vector>

namespace varnix {

std::vector<TFieldDef> BuildFieldTable();

} // namespace varnix
