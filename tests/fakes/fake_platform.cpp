#include "fakes/fake_platform.h"

#include <cmath>
#include <stdexcept>

namespace nocturo::fakes {
namespace {

std::string number(double v) {
    std::string s = std::to_string(v);
    s.erase(s.find_last_not_of('0') + 1);
    if (!s.empty() && s.back() == '.') {
        s.pop_back();
    }
    return s;
}

const char* truth(bool b) {
    return b ? "True" : "False";
}

} // namespace

float FakeClock::timer() {
    journal_.push_back("Timer");
    return now_;
}

void FakeClock::advance(double seconds) {
    double next = double{now_} + seconds;
    if (next >= 86400.0) {
        next -= 86400.0;
    }
    now_ = static_cast<float>(next);
}

void FakeLabel::set_caption(const std::string& text) {
    journal_.push_back(name_ + "=" + text);
    caption = text;
    history.push_back(text);
}

void FakeList::set_list_index(std::int16_t i) {
    journal_.push_back(name_ + ".ListIndex=" + std::to_string(i));
    index = i;
}

void FakeButton::set_enabled(bool on) {
    journal_.push_back(std::string("Command1.Enabled=") + truth(on));
    enabled = on;
}

void FakeBar::set_visible(bool on) {
    journal_.push_back(name_ + ".Visible=" + truth(on));
    visible = on;
}
void FakeBar::set_min(float v) {
    journal_.push_back(name_ + ".Min=" + number(v));
    min_value = v;
}
float FakeBar::min() const {
    journal_.push_back(name_ + ".Min?");
    return min_value;
}
void FakeBar::set_max(float v) {
    journal_.push_back(name_ + ".Max=" + number(v));
    max_value = v;
}
void FakeBar::set_value(float v) {
    journal_.push_back(name_ + ".Value=" + number(v));
    value = v;
    values.push_back(v);
}
void FakeBar::set_property7(std::int32_t v) {
    journal_.push_back(name_ + ".7=" + std::to_string(v));
    property7 = v;
}

void FakeSerial::write(const std::string& what) {
    const std::string entry = "MSComm1." + what;
    if (fail_on && *fail_on == entry) {
        journal_.push_back(entry + " failed");
        throw RunTimeError(ErrorKind::Port, "the port failed: " + entry);
    }
    journal_.push_back(entry);
}

void FakeSerial::track_line(bool before) {
    if (line() != before) {
        edges.push_back({clock_.now(), line()});
    }
}

void FakeSerial::set_comm_port(std::int16_t port) {
    write("CommPort=" + std::to_string(port));
}
void FakeSerial::set_settings(const std::string& settings) {
    write("Settings=" + settings);
}
bool FakeSerial::port_open() const {
    journal_.push_back(std::string("MSComm1.PortOpen?") + truth(open));
    return open;
}
void FakeSerial::set_port_open(bool o) {
    write(std::string("PortOpen=") + truth(o));
    const bool before = line();
    open = o;
    released = false;
    release_at.reset();
    track_line(before);
}
void FakeSerial::set_dtr_enable(bool enable) {
    write(std::string("DTREnable=") + truth(enable));
    const bool before = line();
    dtr_enable = enable;
    released = false;
    release_at.reset();
    track_line(before);
}
void FakeSerial::release_dtr_at(double at) {
    journal_.push_back("MSComm1.ReleaseDTRAt=" + number(at));
    release_at = at;
}
void FakeSerial::release_now() {
    journal_.push_back("MSComm1 released DTR");
    const bool before = line();
    released = true;
    release_at.reset();
    track_line(before);
}

void FakeApp::hide_window() {
    journal_.push_back("Hide");
    hidden = true;
}
void FakeApp::end_program() {
    journal_.push_back("End");
    ended = true;
    throw ProgramEnd{};
}

void FakePump::pump_events(double wake_at, std::span<const double>) {
    ++passes;
    if (passes > limit) {
        throw std::logic_error("a wait did not end");
    }
    wake_ats.push_back(wake_at);
    journal_.push_back("Pump");
    if (hidden) {
        // To the end's own reading, then a step past it where it rounds below the end.
        const auto end = static_cast<float>(std::fmod(wake_at, 86400.0));
        const float next = clock_.now() < end ? end : clock_.now() + static_cast<float>(step);
        hidden = !shown_at || *shown_at > next;
        clock_.set(hidden ? next : *shown_at);
        if (!hidden && on_shown) {
            on_shown();
        }
    } else if (!times.empty()) {
        if (static_cast<std::size_t>(passes) > times.size()) {
            throw std::logic_error("the scripted readings ran out");
        }
        clock_.set(times[static_cast<std::size_t>(passes) - 1]);
    } else {
        clock_.advance(step);
    }
    const float from = clock_.now();
    if (const auto action = actions.find(passes); action != actions.end()) {
        action->second();
    }
    if (each_pass) {
        each_pass();
    }
    if (serial_.release_at) {
        const auto ahead = [from](double t) { return std::fmod(t - from + 86400.0, 86400.0); };
        if (ahead(*serial_.release_at) <= ahead(clock_.now())) {
            const float now = clock_.now();
            clock_.set(static_cast<float>(std::fmod(*serial_.release_at, 86400.0)));
            serial_.release_now();
            clock_.set(now);
        }
    }
}

FakeWindow::FakeWindow()
    : controls{cboPort, kiestijd, Combo1, Combo2, Combo3,  Label1, Label2, Label3, Label4,
               Label5,  Command1, Bar1,   Bar2,   MSComm1, clock,  pump,   app} {}

void FakeWindow::load() {
    form.Form_Load();
    journal.clear();
}

std::vector<std::string> FakeWindow::entries(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& e : journal) {
        if (e.rfind(prefix, 0) == 0) {
            found.push_back(e);
        }
    }
    return found;
}

} // namespace nocturo::fakes
