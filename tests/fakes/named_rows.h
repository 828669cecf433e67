#pragma once

// A table's row prints as its name in the tests' output, rather than as a
// dump of its bytes. The template lies in the including file's own unnamed
// namespace, where its rows are, for gtest's printer to find beside them.

#include <ostream>

namespace nocturo {
namespace {

template <typename Row>
requires requires(const Row& row) {
    row.name;
}
void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

} // namespace
} // namespace nocturo
