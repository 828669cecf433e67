// Which device a row reaches, and that only the user changes a setting,
// proven over orders of events. The model is the rule as the user sees it:
// what the row showed when picked, which arrival landed where, which list
// the user last clicked. After every step each open on the pseudo-terminals
// behind a rig of USB adapters is held against it.

#include "fakes/sysfs_tree.h"
#include "platform/os/serial_line.h"
#include "platform/pty.h"
#include "window/form1.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <gtest/gtest.h>
#include <rapidcheck.h>
#include <rapidcheck/gtest.h>

#include <fstream>
#include <map>

namespace nocturo {
namespace {

namespace fs = std::filesystem;

enum class Act { Plug, Pull, Pick, Wheel, Start, Wait, CtrlZ };

struct Step {
    Act act;
    int a = 0; // the adapter, the list or the seconds
    int b = 0; // the USB socket, or the row
};

std::ostream& operator<<(std::ostream& out, const Step& s) {
    const char* acts[] = {"plug", "pull", "pick", "wheel", "start", "wait", "ctrl+z"};
    return out << acts[static_cast<int>(s.act)] << " " << s.a << " " << s.b;
}

// The camera's FTDI, a clone with the same serial, a CH340 without one, a
// cable of two ports, and a focuser (ttyACM, whose rows come after ttyUSB).
struct Kind {
    const char* serial;
    int ports;
    bool acm;
};
const Kind kAdapters[] = {
    {"A1", 1, false}, {"A1", 1, false}, {"", 1, false}, {"Q1", 2, false}, {"F1", 1, true}};

struct Port {
    int adapter;
    int index;
    std::string name; // ttyUSB0
};

// A port as the user saw it; found again by the serial of its adapter in any
// socket, unless two plugged in carry it; without a serial, in its socket.
struct Seen {
    int adapter;
    int index;
    int socket;
};

class Trial {
public:
    std::string broken_by(const std::vector<Step>& steps) {
        form_.show();
        std::string broken;
        std::size_t next = 0;
        QEventLoop loop;
        std::function<void()> step = [&] { // each in a pass of its own, so in a run too
            if (QApplication::activeModalWidget() != nullptr || !form_.isActiveWindow()) {
                form_.activateWindow(); // a message box is closed, and the user is back
                QTimer::singleShot(0, step);
            } else if (next < steps.size() && broken.empty()) {
                QTimer::singleShot(0, step); // first: START runs the series within its step
                broken = check();
                broken = broken.empty() ? (perform(steps[next++]), check()) : broken;
            } else if (form_.running()) {
                now_ += 5; // the run goes on to its end
                QTimer::singleShot(0, step);
            } else {
                broken = broken.empty() ? check() : broken;
                loop.quit();
            }
        };
        QTimer::singleShot(0, step);
        loop.exec();
        return broken;
    }

private:
    Form1::Options options() {
        Form1::Options options;
        options.ports = std::make_unique<SystemPorts>(sysfs_.system());
        options.pump = QtPump::Mode::Busy;
        options.clock = SteadyDayClock([] { return 43200.0; }, [this] { return now_; });
        options.report = [this](QWidget* window, const QString& message) {
            reports_ << message;
            QMessageBox box(QMessageBox::NoIcon, {}, message, QMessageBox::Ok, window);
            QTimer::singleShot(0, &box, &QDialog::accept);
            box.exec();
        };
        return options;
    }
    QComboBox* list(int k) {
        const char* names[] = {"cboPort", "kiestijd", "Combo1", "Combo2", "Combo3"};
        return form_.findChild<QComboBox*>(QString::fromLatin1(names[k]));
    }
    bool plug(int adapter, int socket) {
        const std::string usb = "1-" + std::to_string(socket);
        if (sockets_.count(adapter) != 0 || fs::exists(sysfs_.root / "devices/usb1" / usb)) {
            return false;
        }
        sockets_[adapter] = socket;
        sysfs_.adapter(usb, "", kAdapters[adapter].serial);
        for (int k = 0; k < kAdapters[adapter].ports; ++k) {
            std::string name;
            for (int n = 0; name.empty() || fs::exists(sysfs_.root / "class/tty" / name); ++n) {
                name = (kAdapters[adapter].acm ? "ttyACM" : "ttyUSB") + std::to_string(n);
            }
            sysfs_.tty(name, nullptr, usb, std::to_string(k).c_str());
            ptys_[name] = std::make_unique<testing_support::Pty>();
            sysfs_.node(name, ptys_[name]->slave());
            ports_.push_back({adapter, k, name});
        }
        form_.ports_changed();
        return true;
    }
    void pull(int adapter) { // as the kernel does: the nodes go, announced, then the rest
        if (sockets_.count(adapter) == 0) {
            return;
        }
        for (const Port& port : ports_) {
            if (port.adapter == adapter) {
                fs::remove(sysfs_.root / "dev" / port.name);
                ptys_[port.name]->hang_up();
            }
        }
        form_.ports_changed();
        std::erase_if(ports_, [&](const Port& port) {
            return port.adapter == adapter &&
                   fs::remove_all(sysfs_.root / "class/tty" / port.name) > 0;
        });
        fs::remove_all(sysfs_.root / "devices/usb1" / ("1-" + std::to_string(sockets_[adapter])));
        sockets_.erase(adapter);
    }
    std::optional<Seen> at_place() {
        std::vector<Port> rows = ports_;
        std::sort(rows.begin(), rows.end(), [](const Port& x, const Port& y) {
            return std::pair(x.name[3] == 'A', std::stoi(x.name.substr(6))) <
                   std::pair(y.name[3] == 'A', std::stoi(y.name.substr(6)));
        });
        if (lists_[0] >= static_cast<int>(rows.size())) {
            return std::nullopt;
        }
        const Port& port = rows[static_cast<std::size_t>(lists_[0])];
        return Seen{port.adapter, port.index, sockets_[port.adapter]};
    }
    std::string reached() {
        const std::string serial = reaches_ ? kAdapters[reaches_->adapter].serial : "";
        const auto carriers = std::count_if(sockets_.begin(), sockets_.end(), [&](const auto& in) {
            return kAdapters[in.first].serial == serial;
        });
        for (const Port& port : ports_) {
            if (reaches_ && port.index == reaches_->index &&
                kAdapters[port.adapter].serial == serial &&
                (sockets_[port.adapter] == reaches_->socket ||
                 (!serial.empty() && carriers == 1))) {
                return ptys_[port.name]->slave();
            }
        }
        return "nothing";
    }

    std::string check() {
        std::ifstream in(log_.path());
        std::string ns, device, what;
        for (int n = 0; in >> ns >> device && std::getline(in >> std::ws, what); ++n) {
            if (n >= logged_) {
                logged_ = n + 1;
                if (what == "open" && (cut_ || device != reached())) {
                    return "opened " + device + "; Com" + std::to_string(lists_[0] + 1) +
                           " reaches " + (cut_ ? "nothing after Ctrl+Z" : reached());
                }
                open_ = what == "open" || (open_ && what.find("close") == std::string::npos);
            }
        }
        for (int k = 0; k < 5; ++k) {
            if (list(k)->currentIndex() != lists_[k]) {
                return list(k)->objectName().toStdString() + " changed with no act of the user";
            }
        }
        for (; reported_ < reports_.size(); ++reported_) {
            if (reached() != "nothing" &&
                reports_[reported_].contains(QStringLiteral("not conn"))) {
                return "said the row's device is not connected while it is plugged in";
            }
        }
        return {};
    }

    void perform(const Step& s) {
        const bool idle = !form_.running();
        QComboBox* const chosen = list(s.a % 5);
        switch (s.act) {
        case Act::Plug:
            if (plug(s.a % 5, s.b % 4) && idle && !reaches_ && at_place() &&
                at_place()->adapter == s.a % 5) {
                reaches_ = at_place(); // its own arrival put it at the row's place
            }
            break;
        case Act::Pull:
            pull(s.a % 5);
            break;
        case Act::Pick: // a click, then a row from the drop-down
            QTest::mouseClick(chosen->lineEdit(), Qt::LeftButton);
            chosen->setCurrentIndex(s.b % chosen->count());
            Q_EMIT chosen->activated(s.b % chosen->count());
            focus_ = s.a % 5;
            lists_[focus_] = s.b % chosen->count();
            reaches_ = focus_ == 0 ? at_place() : reaches_;
            break;
        case Act::Wheel: { // the pointer rests on the list
            QWheelEvent wheel({5, 5}, chosen->mapToGlobal(QPointF(5, 5)), {}, {0, -120}, {}, {},
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(chosen, &wheel);
            if (focus_ == s.a % 5) {
                lists_[focus_] = std::min(chosen->count() - 1, lists_[focus_] + 1);
                reaches_ = focus_ == 0 ? at_place() : reaches_;
            }
            break;
        }
        case Act::Start: // with the mouse; the run goes on in the steps after
            focus_ = idle ? -1 : focus_;
            cut_ = cut_ && !idle;
            QTest::mouseClick(form_.findChild<QPushButton*>(QStringLiteral("Command1")),
                              Qt::LeftButton);
            break;
        case Act::Wait:
            now_ += s.a % 6 + 1;
            break;
        case Act::CtrlZ: // what its handler does; stopped a while; fg
            stop_serial_line();
            cut_ = cut_ || open_;
            now_ += 2;
            break;
        }
    }

    testing_support::ModemLog log_;
    fakes::SysfsTree sysfs_{"nocturo-rig"};
    double now_ = 0.0;
    QStringList reports_;
    Form1 form_{options()};
    std::map<int, int> sockets_; // of the adapters plugged in
    std::vector<Port> ports_;
    std::map<std::string, std::unique_ptr<testing_support::Pty>> ptys_;
    std::array<int, 5> lists_ = {0, 0, 2, 1, 2}; // the rows the user picked
    std::optional<Seen> reaches_;                // what the port row showed when picked
    int focus_ = -1;                             // the list the user clicked last
    bool cut_ = false;                           // Ctrl+Z cut the run's exposure short
    bool open_ = false;                          // a port is open
    int logged_ = 0;
    qsizetype reported_ = 0;
};

RC_GTEST_PROP(RowRule, EveryOpenFollowsWhatTheUserSaw, ()) {
    const auto step = rc::gen::apply(
        [](Act act, int a, int b) {
            return Step{act, a, b};
        },
        rc::gen::weightedElement<Act>({{3, Act::Plug},
                                       {2, Act::Pull},
                                       {2, Act::Pick},
                                       {2, Act::Wheel},
                                       {2, Act::Start},
                                       {3, Act::Wait},
                                       {1, Act::CtrlZ}}),
        rc::gen::inRange(0, 30), rc::gen::inRange(0, 16));
    RC_ASSERT(Trial().broken_by(*rc::gen::resize(
                  40, rc::gen::container<std::vector<Step>>(step))) == std::string());
}

// The orders of events seen breaking the rule once.
TEST(RowRule, HoldsForTheOrdersSeenBreakingIt) {
    const std::vector<std::vector<Step>> seen = {
        // Com2 picked empty; a focuser arrives at Com1 and slides into Com2
        // as the camera's adapter arrives before it.
        {{Act::Pick, 0, 1}, {Act::Plug, 4, 1}, {Act::Plug, 0, 2}, {Act::Start}, {Act::Wait, 5}},
        // START clicked with the mouse, then the wheel over the port list.
        {{Act::Plug, 0, 1}, {Act::Start}, {Act::Wait, 3}, {Act::Wheel}},
        // Ctrl+Z in an exposure.
        {{Act::Plug, 0, 1}, {Act::Start}, {Act::Wait, 3}, {Act::Wait, 0}, {Act::CtrlZ}},
        // The camera's adapter moved to another socket while idle.
        {{Act::Plug, 0, 1}, {Act::Pull, 0}, {Act::Plug, 0, 2}, {Act::Start}, {Act::Wait, 3}}};
    for (const std::vector<Step>& steps : seen) {
        EXPECT_EQ(Trial().broken_by(steps), "");
    }
}

} // namespace
} // namespace nocturo
