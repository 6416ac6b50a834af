#pragma once
// The pages write their texts with the shared text applier.

#include "lang/apply_texts.h"
