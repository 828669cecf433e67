#include "platform/numbers.h"

#include "platform/errors.h"

#include <cmath>
#include <limits>

namespace nocturo {
namespace {

std::int16_t narrow16(std::int32_t wide) {
    if (wide < std::numeric_limits<std::int16_t>::min() ||
        wide > std::numeric_limits<std::int16_t>::max()) {
        throw RunTimeError(ErrorKind::Overflow,
                           "A setting produced a number too large to work with, so the run "
                           "was stopped. Pick the rows again and press START.");
    }
    return static_cast<std::int16_t>(wide);
}

std::int32_t to_int32(double whole) {
    // Both limits are exactly representable as doubles.
    if (whole < -2147483648.0 || whole > 2147483647.0) {
        throw RunTimeError(ErrorKind::Overflow,
                           "A time value left the range the program can count, so the run "
                           "was stopped.");
    }
    return static_cast<std::int32_t>(whole);
}

} // namespace

std::int16_t add16(std::int16_t a, std::int16_t b) {
    return narrow16(std::int32_t{a} + b);
}
std::int16_t sub16(std::int16_t a, std::int16_t b) {
    return narrow16(std::int32_t{a} - b);
}
std::int16_t mul16(std::int16_t a, std::int16_t b) {
    return narrow16(std::int32_t{a} * b);
}

double checked(double value) {
    if (!std::isfinite(value)) {
        throw RunTimeError(ErrorKind::FloatingPoint,
                           "The run clock produced an impossible value, so the run was stopped.");
    }
    return value;
}

std::int32_t round_half_even(double value) {
    // nearbyint follows the rounding mode, which is round-to-nearest-even
    // unless someone changed it; rounding explicitly keeps the rule local.
    const double down = std::floor(checked(value));
    const double frac = value - down;
    double result = down;
    if (frac > 0.5 || (frac == 0.5 && std::fmod(down, 2.0) != 0.0)) {
        result = down + 1.0;
    }
    return to_int32(result);
}

std::int32_t round_down(double value) {
    return to_int32(std::floor(checked(value)));
}

std::string str_number(std::int64_t value) {
    std::string text = value < 0 ? std::string() : std::string(1, ' ');
    return text.append(std::to_string(value));
}

std::string row_number(std::int64_t value) {
    return std::to_string(value);
}

} // namespace nocturo
