#pragma once

#include <stdexcept>
#include <string>

namespace nocturo {

// What went wrong, in the terms the window uses to decide what to do next.
enum class ErrorKind {
    Overflow,      // a whole number left the 16-bit range
    FloatingPoint, // an invalid operation, a division by zero or an overflow in clock arithmetic
    Port,          // the serial port could not be opened, driven or closed
    Control,       // a control refused an operation
};

// A run-time error. what() is already worded for the photographer: no raw
// system text stands alone in it.
class RunTimeError : public std::runtime_error {
public:
    RunTimeError(ErrorKind kind, const std::string& message)
        : std::runtime_error(message), kind_(kind) {}
    ErrorKind kind() const { return kind_; }

private:
    ErrorKind kind_;
};

// Thrown by Application::end_program(). Nothing catches it but the outermost
// event handler, so no further step of a wait or a run can execute once End
// has been chosen.
struct ProgramEnd {};

} // namespace nocturo
