#pragma once

// The operations the program's logic needs from the world outside it: the
// window's controls, the event pump, the clock, the two progress bars, the
// serial-line control and ending the program. settings/ and engine/ see only
// these; platform/qt realises them with Qt widgets and the operating system,
// tests/fakes with recorders and a scripted clock.

#include <cstdint>
#include <span>
#include <string>

namespace nocturo {

class Label {
public:
    virtual ~Label() = default;
    virtual void set_caption(const std::string& text) = 0;
};

// A drop-down list. Rows keep the order in which they were appended;
// ListIndex is 0 for the first row and -1 when no row is selected.
class ListControl {
public:
    virtual ~ListControl() = default;
    virtual void add_item(const std::string& text) = 0;
    virtual std::int16_t list_index() const = 0;
    virtual void set_list_index(std::int16_t index) = 0;
};

class Button {
public:
    virtual ~Button() = default;
    virtual void set_enabled(bool enabled) = 0;
};

// A progress bar. A Value outside Min..Max shows an empty or a full bar.
class ProgressBar {
public:
    virtual ~ProgressBar() = default;
    virtual void set_visible(bool visible) = 0;
    virtual void set_min(float min) = 0;
    virtual float min() const = 0;
    virtual void set_max(float max) = 0;
    virtual void set_value(float value) = 0;
    // The bar property with dispatch identifier 7; the exposure sets it to 1.
    virtual void set_property7(std::int32_t value) = 0;
};

// The serial-line control. Only the DTR line of the port matters; no data is
// ever sent or read.
class SerialControl {
public:
    virtual ~SerialControl() = default;
    virtual void set_comm_port(std::int16_t port) = 0;
    virtual void set_settings(const std::string& settings) = 0;
    virtual bool port_open() const = 0;
    // True opens the port chosen by CommPort, False drops DTR and closes it.
    virtual void set_port_open(bool open) = 0;
    // While the port is open, True asserts DTR and False releases it.
    virtual void set_dtr_enable(bool enable) = 0;
    // Releases DTR at the clock reading at (unfolded: it may pass 86400) if
    // it is still asserted then, even while the window's thread is held by
    // something other than a wait. The next DTREnable or PortOpen write
    // takes the release back.
    virtual void release_dtr_at(double at) = 0;
};

// Seconds since local midnight, 0 <= value < 86400.
class Clock {
public:
    virtual ~Clock() = default;
    virtual float timer() = 0;
};

class EventPump {
public:
    virtual ~EventPump() = default;
    // Hands every pending window event to its handler and returns. A handler
    // that ends the program does not return here: pump_events throws
    // ProgramEnd instead.
    //
    // wake_at is the clock reading (unfolded: it may pass 86400) at which the
    // caller's wait can first end. What the caller shows changes, besides
    // through events, only when a reading passes origin + k, for a whole k,
    // of one of the refresh origins: the status lines count whole seconds.
    // So a pump may sleep until the next event, the next such reading or
    // wake_at, whichever comes first; and while nobody can see the window,
    // until the next event that matters or wake_at.
    virtual void pump_events(double wake_at, std::span<const double> refresh_origins) = 0;
    // Whether the window can be seen now. Refreshing what cannot be seen is
    // skipped; the window is brought up to date as it shows again.
    virtual bool window_shown() const = 0;
};

class Application {
public:
    virtual ~Application() = default;
    virtual void hide_window() = 0;
    // Ends the program at once; never returns (throws ProgramEnd).
    [[noreturn]] virtual void end_program() = 0;
};

// Every control of the window by its name, and the services the routines use.
struct Controls {
    ListControl& cboPort;
    ListControl& kiestijd;
    ListControl& Combo1;
    ListControl& Combo2;
    ListControl& Combo3;
    Label& Label1;
    Label& Label2;
    Label& Label3;
    Label& Label4;
    Label& Label5;
    Button& Command1;
    ProgressBar& Bar1;
    ProgressBar& Bar2;
    SerialControl& MSComm1;
    Clock& clock;
    EventPump& pump;
    Application& app;
};

} // namespace nocturo
