#pragma once

#include <ostream>

namespace nocturo::testing_support {

// A table's row prints as its name in the tests' output, rather than as a
// dump of its bytes. A test file takes it with
// `using testing_support::PrintTo;` in the namespace of its rows.
template <typename Row>
requires requires(const Row& row) {
    row.name;
}
void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

} // namespace nocturo::testing_support
