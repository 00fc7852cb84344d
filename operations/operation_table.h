// The operation table and the step tables: data a reader can compare row by row with the
// operations they describe. Their steps are the routines of protocol/ and results/.
#pragma once

#include <array>

#include "engine/operation.h"

namespace trelvo {

extern const std::array<Operation, OPERATION_COUNT + 1> operation_table;

// The row at `position` (0..4), or nullptr for any other position.
const Operation* operation_at(int position);

// The conversion of a result list on disk (--convert): the rows of the result list upload
// that follow the receive, in the same order, and the close of the list's private copy.
extern const Operation result_list_conversion;

}  // namespace trelvo
