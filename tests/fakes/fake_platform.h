#pragma once

// The platform interface as recorders. Every fake writes what is done to it,
// in order, into one shared journal ("Label5=LeadIn Pause", "MSComm1.PortOpen=True",
// "Timer"), so a test can check the order of operations across controls.
// The clock is set by hand; the pump moves it on at every pass and can run
// an action (a click, End) in the middle of a wait. Nothing sleeps.

#include "engine/form1_routines.h"
#include "platform/controls.h"
#include "platform/errors.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace nocturo::fakes {

using Journal = std::vector<std::string>;

class FakeClock : public Clock {
public:
    explicit FakeClock(Journal& journal) : journal_(journal) {}
    float timer() override;
    void set(float seconds) { now_ = seconds; }
    void advance(double seconds);
    float now() const { return now_; }

private:
    Journal& journal_;
    float now_ = 0.0f;
};

class FakeLabel : public Label {
public:
    FakeLabel(Journal& journal, std::string name) : journal_(journal), name_(std::move(name)) {}
    void set_caption(const std::string& text) override;
    std::string caption;
    std::vector<std::string> history;

private:
    Journal& journal_;
    std::string name_;
};

class FakeList : public ListControl {
public:
    FakeList(Journal& journal, std::string name) : journal_(journal), name_(std::move(name)) {}
    void add_item(const std::string& text) override { items.push_back(text); }
    std::int16_t list_index() const override { return index; }
    void set_list_index(std::int16_t i) override;
    std::vector<std::string> items;
    std::int16_t index = -1;

private:
    Journal& journal_;
    std::string name_;
};

class FakeButton : public Button {
public:
    explicit FakeButton(Journal& journal) : journal_(journal) {}
    void set_enabled(bool on) override;
    bool enabled = true;

private:
    Journal& journal_;
};

class FakeBar : public ProgressBar {
public:
    FakeBar(Journal& journal, std::string name) : journal_(journal), name_(std::move(name)) {}
    void set_visible(bool on) override;
    void set_min(float v) override;
    float min() const override;
    void set_max(float v) override;
    void set_value(float v) override;
    void set_property7(std::int32_t v) override;
    bool visible = true;
    float min_value = 0.0f;
    float max_value = 100.0f;
    float value = 0.0f;
    std::int32_t property7 = 0;
    std::vector<float> values;

private:
    Journal& journal_;
    std::string name_;
};

// Records every call. The line is asserted while the port is open and
// DTREnable is True; each change is kept with the clock's time.
class FakeSerial : public SerialControl {
public:
    FakeSerial(Journal& journal, FakeClock& clock) : journal_(journal), clock_(clock) {}
    void set_comm_port(std::int16_t port) override;
    void set_settings(const std::string& settings) override;
    bool port_open() const override;
    void set_port_open(bool open) override;
    void set_dtr_enable(bool enable) override;
    void release_dtr_at(double at) override;
    // What the platform does at the armed reading: lowers the line.
    void release_now();

    bool open = false;
    bool dtr_enable = false;
    bool released = false; // lowered by the platform, not by a write
    std::optional<double> release_at;
    bool line() const { return open && dtr_enable && !released; }
    struct Edge {
        float time;
        bool asserted;
    };
    std::vector<Edge> edges;
    // A write that fails: its journal text ("MSComm1.PortOpen=True"); the
    // write is refused before it takes effect.
    std::optional<std::string> fail_on;

private:
    void write(const std::string& what);
    void track_line(bool before);
    Journal& journal_;
    FakeClock& clock_;
};

class FakeApp : public Application {
public:
    explicit FakeApp(Journal& journal) : journal_(journal) {}
    void hide_window() override;
    [[noreturn]] void end_program() override;
    bool hidden = false;
    bool ended = false;

private:
    Journal& journal_;
};

// Moves the clock on at every pass: by step, or to the next of times; while
// hidden, to the reading at which the wait can first end, or to shown_at,
// where the window shows again and on_shown runs. An
// action registered for pass n runs inside the pump at that pass, after the
// clock has moved, as an event handler would; it may move the clock further,
// as a handler that holds the window's thread does. A release the serial
// line has armed for a reading that such a handler went past happens at that
// reading, inside the pump, as a timer would fire it.
class FakePump : public EventPump {
public:
    FakePump(Journal& journal, FakeClock& clock, FakeSerial& serial)
        : journal_(journal), clock_(clock), serial_(serial) {}
    void pump_events(double wake_at, std::span<const double> refresh_origins) override;
    bool window_shown() const override { return !hidden; }

    double step = 0.25;
    bool hidden = false;
    std::optional<float> shown_at;
    std::function<void()> on_shown;
    std::vector<float> times;
    std::map<int, std::function<void()>> actions;
    std::function<void()> each_pass; // runs inside every pass, after the actions
    int passes = 0;
    std::vector<double> wake_ats;
    int limit = 1'000'000;

private:
    Journal& journal_;
    FakeClock& clock_;
    FakeSerial& serial_;
};

// The whole window on fakes, with its routines.
struct FakeWindow {
    FakeWindow();

    Journal journal;
    FakeClock clock{journal};
    FakeList cboPort{journal, "cboPort"}, kiestijd{journal, "kiestijd"}, Combo1{journal, "Combo1"},
        Combo2{journal, "Combo2"}, Combo3{journal, "Combo3"};
    FakeLabel Label1{journal, "Label1"}, Label2{journal, "Label2"}, Label3{journal, "Label3"},
        Label4{journal, "Label4"}, Label5{journal, "Label5"};
    FakeButton Command1{journal};
    FakeBar Bar1{journal, "Bar1"}, Bar2{journal, "Bar2"};
    FakeSerial MSComm1{journal, clock};
    FakePump pump{journal, clock, MSComm1};
    FakeApp app{journal};
    Controls controls;
    Form1Routines form{controls};

    // Form_Load, then a clean journal.
    void load();
    // Journal entries that start with prefix, in order.
    std::vector<std::string> entries(const std::string& prefix) const;
};

} // namespace nocturo::fakes
