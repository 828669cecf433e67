#pragma once

// The number rules every routine of the program follows: 16-bit whole numbers
// whose arithmetic detects overflow, rounding to the nearest whole number with
// halves to the even neighbour, rounding down, checks for floating-point
// faults, and the text form of a number written into a status line.

#include <cstdint>
#include <string>

namespace nocturo {

// 16-bit signed arithmetic; a result outside -32768..32767 raises the
// overflow error before anything else happens.
std::int16_t add16(std::int16_t a, std::int16_t b);
std::int16_t sub16(std::int16_t a, std::int16_t b);
std::int16_t mul16(std::int16_t a, std::int16_t b);

// Nearest whole number, halves to the even neighbour, as a 32-bit integer.
// NaN or infinity raises the floating-point error, a result outside the
// 32-bit range the overflow error.
std::int32_t round_half_even(double value);

// Largest whole number not above value. Same errors as round_half_even.
std::int32_t round_down(double value);

// Raises the floating-point error when value is NaN or infinite; returns it otherwise.
double checked(double value);

// A number as the status lines write it: a blank before zero and positive
// numbers, a minus sign before negative ones, then the digits.
std::string str_number(std::int64_t value);

// The same without the leading blank: the digits as the list rows show them.
std::string row_number(std::int64_t value);

} // namespace nocturo
