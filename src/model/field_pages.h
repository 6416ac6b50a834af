#pragma once
// The pages' side of the catalogue: which control holds each field on the Z2 and the Z3 page and
// the text key of its label. Kept apart from the field definitions, which the command-line tool
// reads without any of it.

#include "model/fields.h"

#include <vector>

namespace varnix {

// Fills Z2Control, Z3Control and LabelKey of the fields in `table` (run once, as it is built).
void SetPageControls(std::vector<TFieldDef>& table);
// How many fields the pages' table names (a test checks each one is a field).
int PageControlEntries();

} // namespace varnix
