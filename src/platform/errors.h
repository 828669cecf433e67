#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

namespace nocturo {

// What went wrong, in the terms the window uses to decide what to do next.
enum class ErrorKind {
    Overflow,      // a whole number left the 16-bit range
    FloatingPoint, // an invalid operation, a division by zero or an overflow in clock arithmetic
    Port,          // the serial port could not be opened, driven or closed
    Control,       // a control refused an operation
    Stopped,       // the program was stopped (Ctrl+Z) while the shutter was open
};

// A run-time error. what() is already worded for the photographer: no raw
// system text stands alone in it. A message may end in a paragraph of advice,
// set off by a blank line.
class RunTimeError : public std::exception {
public:
    RunTimeError(ErrorKind kind, std::string message) : kind_(kind), message_(std::move(message)) {}
    ErrorKind kind() const { return kind_; }
    const char* what() const noexcept override { return message_.c_str(); }

    // Adds a sentence about what was under way when the error came, after
    // the account of what went wrong and before the advice.
    void add_context(const std::string& sentence) {
        message_.insert(account_end(), " " + sentence);
    }

    // Puts advice in the place of the advice the message had, if any.
    void set_advice(const std::string& advice) {
        message_.replace(account_end(), std::string::npos, "\n\n" + advice);
    }

private:
    std::size_t account_end() const {
        const std::size_t advice = message_.find("\n\n");
        return advice == std::string::npos ? message_.size() : advice;
    }

    ErrorKind kind_;
    std::string message_;
};

// The program was stopped (Ctrl+Z) during an exposure: the shutter closed
// at the stop, so the frame is short. exposure names it ("Exposure 1 of 2").
class ExposureCut : public RunTimeError {
public:
    ExposureCut(const std::string& exposure, std::int64_t seconds)
        : RunTimeError(ErrorKind::Stopped,
                       exposure + " was cut short after " + std::to_string(seconds) +
                           " s: Nocturo was stopped (Ctrl+Z). The shutter closed when it "
                           "stopped, so that frame is short, and the series ends "
                           "here.\n\nPress START to begin again."),
          seconds_(seconds) {}
    std::int64_t seconds() const { return seconds_; }

private:
    std::int64_t seconds_;
};

// Thrown by Application::end_program(). Nothing catches it but the outermost
// event handler, so no further step of a wait or a run can execute once End
// has been chosen. When closing the port failed on the way out, report holds
// the error: it is shown, and the program ends all the same.
struct ProgramEnd {
    std::string report;
};

} // namespace nocturo
