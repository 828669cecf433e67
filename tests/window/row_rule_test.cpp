// Which device a row reaches, and that only the user changes a setting,
// proven over orders of events rather than listed cases. The model is the
// rule as the user sees it: what the row showed when picked, which arrival
// landed where, which list the user last clicked or tabbed into. After every
// step, each open and the lines of every pseudo-terminal behind a rig of USB
// adapters are held against it.

#include "platform/os/serial_line.h"
#include "platform/pty.h"
#include "window/form1.h"

#include <QComboBox>
#include <QEventLoop>
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

enum class Act { Plug, Pull, Pick, Tab, Wheel, Start, Wait, CtrlZ };

struct Step {
    Act act;
    int a = 0; // the adapter, the list or the seconds
    int b = 0; // the USB socket, or the row
};

std::ostream& operator<<(std::ostream& out, const Step& s) {
    const char* acts[] = {"plug", "pull", "pick", "tab", "wheel", "start", "wait", "ctrl+z"};
    return out << acts[static_cast<int>(s.act)] << " " << s.a << " " << s.b;
}

// Ids, serial number, ports; a modem's (ttyACM) row comes after the ttyUSB.
struct Kind {
    const char* vendor;
    const char* serial;
    int ports;
    bool acm;
};
const Kind kAdapters[] = {{"0403", "A1", 1, false}, // the camera's FTDI
                          {"0403", "A1", 1, false}, // a clone that reports the same serial
                          {"1a86", "", 1, false},   // a CH340, which has none
                          {"0403", "Q1", 2, false}, // a cable of two ports
                          {"2341", "F1", 1, true}}; // a focuser

struct Port {
    int adapter;
    int index;
    std::string name; // ttyUSB0
};

// Adapters in USB sockets as the kernel shows them in sysfs, each port's node
// leading to a pseudo-terminal.
struct Rig {
    Rig() { fs::create_directories(root / "dev"); }
    ~Rig() { fs::remove_all(root); }
    static void put(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text << "\n";
    }
    bool plug(int adapter, int socket) {
        const Kind& kind = kAdapters[adapter];
        const std::string usb = "1-" + std::to_string(socket);
        if (sockets.count(adapter) != 0 || fs::exists(root / usb)) {
            return false;
        }
        sockets[adapter] = usb;
        put(root / usb / "idVendor", kind.vendor);
        put(root / usb / "idProduct", "6001");
        put(root / usb / "serial", kind.serial);
        for (int k = 0; k < kind.ports; ++k) {
            std::string name;
            for (int n = 0; name.empty() || fs::exists(root / "class/tty" / name); ++n) {
                name = (kind.acm ? "ttyACM" : "ttyUSB") + std::to_string(n);
            }
            put(root / usb / (usb + ":1.0") / name / "port_number", std::to_string(k));
            fs::create_directories(root / "class/tty" / name);
            fs::create_directory_symlink(root / usb / (usb + ":1.0") / name,
                                         root / "class/tty" / name / "device");
            ports.push_back({adapter, k, name});
            ptys[name] = std::make_unique<testing_support::Pty>();
            fs::create_symlink(ptys[name]->slave(), root / "dev" / name);
        }
        return true;
    }
    // As the kernel does: the nodes go, which is announced, then the rest.
    void pull(int adapter, const std::function<void()>& announce) {
        if (sockets.count(adapter) == 0) {
            return;
        }
        for (const Port& port : ports) {
            if (port.adapter == adapter) {
                fs::remove(root / "dev" / port.name);
                ptys[port.name]->hang_up();
            }
        }
        announce();
        std::erase_if(ports, [&](const Port& port) {
            return port.adapter == adapter && fs::remove_all(root / "class/tty" / port.name) > 0;
        });
        fs::remove_all(root / sockets[adapter]);
        sockets.erase(adapter);
    }
    // Row order: ttyUSB by number, then ttyACM.
    std::optional<Port> at_row(int row) const {
        std::vector<Port> sorted = ports;
        std::sort(sorted.begin(), sorted.end(), [](const Port& x, const Port& y) {
            return std::make_pair(x.name[3] == 'A', std::stoi(x.name.substr(6))) <
                   std::make_pair(y.name[3] == 'A', std::stoi(y.name.substr(6)));
        });
        return row < static_cast<int>(sorted.size()) ? std::optional(sorted[row]) : std::nullopt;
    }

    fs::path root = fs::temp_directory_path() / ("nocturo-rig-" + std::to_string(::getpid()));
    std::map<int, std::string> sockets; // of the adapters plugged in
    std::vector<Port> ports;
    std::map<std::string, std::unique_ptr<testing_support::Pty>> ptys; // kept till the end
};

// A port as the user saw it, and finds it again: an adapter with a serial
// number of its own in any socket, unless another plugged in carries the
// same; one without, in its socket.
struct Seen {
    int adapter;
    int index;
    std::string socket;

    std::optional<Port> now(const Rig& rig) const {
        const auto alike = [this](int other) {
            return std::string(kAdapters[other].vendor) == kAdapters[adapter].vendor &&
                   std::string(kAdapters[other].serial) == kAdapters[adapter].serial;
        };
        const auto carriers = std::count_if(rig.sockets.begin(), rig.sockets.end(),
                                            [&](const auto& in) { return alike(in.first); });
        for (const Port& port : rig.ports) {
            if (port.index == index && alike(port.adapter) &&
                (rig.sockets.at(port.adapter) == socket ||
                 (*kAdapters[adapter].serial != '\0' && carriers == 1))) {
                return port;
            }
        }
        return std::nullopt;
    }
};

// One order of events on a fresh rig and window; each step comes in a pass
// of the event loop of its own, so that those after START come during the
// run. The first rule broken, or nothing.
class Trial {
public:
    std::string broken_by(const std::vector<Step>& steps) {
        form_.show();
        form_.activateWindow();
        std::string broken;
        std::size_t next = 0;
        int drained = 0;
        QEventLoop loop;
        std::function<void()> step = [&] {
            if (QApplication::activeModalWidget() != nullptr || !form_.isActiveWindow()) {
                form_.activateWindow(); // once a message box is closed, the user is back
                QTimer::singleShot(0, step);
            } else if (next < steps.size() && broken.empty()) {
                QTimer::singleShot(0, step);
                broken = check(); // what came since, under the model as it was
                if (broken.empty()) {
                    perform(steps[next++]);
                    broken = check();
                }
            } else if (form_.running() && drained++ < 60) {
                now_ += 5; // the run goes on to its end, or is ended
                QTimer::singleShot(0, step);
            } else {
                if (form_.running()) {
                    form_.einde_Click();
                }
                broken = broken.empty() ? check() : broken;
                loop.quit();
            }
        };
        QTimer::singleShot(0, step);
        loop.exec();
        return broken.empty() && cuts_ != 0 ? "a cut exposure went unreported" : broken;
    }

private:
    Form1::Options options() {
        Form1::Options options;
        options.ports = std::make_unique<SystemPorts>(rig_.root, rig_.root / "dev", rig_.root);
        options.pump = QtPump::Mode::Busy;
        options.clock = SteadyDayClock([] { return 43200.0; }, [this] { return now_; });
        options.report = [this](QWidget* window, const QString& message) {
            reports_ << message;
            QMessageBox box(QMessageBox::Critical, QStringLiteral("Nocturo"), message,
                            QMessageBox::Ok, window);
            QTimer::singleShot(0, &box, &QDialog::accept);
            box.exec();
        };
        return options;
    }
    QComboBox* list(int k) {
        const char* names[] = {"cboPort", "kiestijd", "Combo1", "Combo2", "Combo3"};
        return form_.findChild<QComboBox*>(QString::fromLatin1(names[k]));
    }
    std::optional<Port> reached() const { return reaches_ ? reaches_->now(rig_) : std::nullopt; }
    std::optional<Seen> at_place() const {
        const std::optional<Port> port = rig_.at_row(lists_[0]);
        return port
                   ? std::optional(Seen{port->adapter, port->index, rig_.sockets.at(port->adapter)})
                   : std::nullopt;
    }
    void pick(int k, int row) {
        focus_ = k;
        lists_[k] = row;
        if (k == 0) {
            reaches_ = at_place();
        }
    }

    std::string check() {
        std::ifstream in(log_.path());
        std::string ns, device, what;
        for (int n = 0; in >> ns >> device && std::getline(in >> std::ws, what); ++n) {
            if (what.rfind("(deleted) ", 0) == 0) { // a node gone with its adapter
                what.erase(0, 10);
            }
            if (n < logged_) {
                continue;
            }
            logged_ = n + 1;
            if (what == "open" && (cut_ || !reached() || ptys(reached()->name) != device)) {
                return "opened " + device + "; Com" + std::to_string(lists_[0] + 1) + " reaches " +
                       (reached() && !cut_ ? reached()->name : "nothing");
            }
            open_ = what == "open" ? device : what == "close" ? "" : open_;
            lines_[device + what.substr(0, 3)] = what;
        }
        for (const Port& port : rig_.ports) {
            const std::string dtr = lines_[ptys(port.name) + "DTR"];
            if (lines_[ptys(port.name) + "RTS"] == "RTS 1" ||
                (dtr == "DTR 1" && (cut_ || !form_.running()))) {
                return "a line left up on " + port.name;
            }
        }
        for (int k = 0; k < 5; ++k) {
            if (list(k)->currentIndex() != lists_[k]) {
                return list(k)->objectName().toStdString() + " changed with no act of the user";
            }
        }
        for (; reported_ < reports_.size(); ++reported_) {
            if (reached() && reports_[reported_].contains(QStringLiteral("not connected"))) {
                return "said the row's device is not connected while it is plugged in";
            }
            cuts_ -= reports_[reported_].contains(QStringLiteral("cut short")) ? 1 : 0;
        }
        return {};
    }
    std::string ptys(const std::string& name) { return rig_.ptys[name]->slave(); }

    void perform(const Step& s) {
        const bool idle = !form_.running();
        const int k = s.a % 5;
        QComboBox* const chosen = list(k);
        switch (s.act) {
        case Act::Plug:
            if (rig_.plug(s.a % 5, s.b % 4)) {
                for (const Port& port : rig_.ports) { // a new pty may have an old one's name
                    if (port.adapter == s.a % 5) {
                        lines_.erase(ptys(port.name) + "DTR");
                        lines_.erase(ptys(port.name) + "RTS");
                    }
                }
                form_.ports_changed();
                if (idle && !reaches_ && at_place() && at_place()->adapter == s.a % 5) {
                    reaches_ = at_place(); // its own arrival put it there
                }
            }
            break;
        case Act::Pull:
            rig_.pull(s.a % 5, [this] { form_.ports_changed(); });
            break;
        case Act::Pick: { // a click, then a row from the drop-down list or typed
            const int row = s.b % chosen->count();
            QTest::mouseClick(chosen->lineEdit(), Qt::LeftButton);
            if (s.b % 2 == 0) {
                chosen->setCurrentIndex(row);
                Q_EMIT chosen->activated(row);
            } else {
                chosen->lineEdit()->selectAll();
                QTest::keyClicks(chosen->lineEdit(), chosen->itemText(row));
                QTest::keyClick(chosen->lineEdit(), Qt::Key_Return);
            }
            pick(k, row);
            break;
        }
        case Act::Tab:
            for (int n = 0; n < 7 && QApplication::focusWidget() != nullptr &&
                            QApplication::focusWidget() != chosen;
                 ++n) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            }
            focus_ = k;
            break;
        case Act::Wheel: { // the pointer rests on the list
            QWheelEvent wheel({5, 5}, chosen->mapToGlobal(QPointF(5, 5)), {}, {0, -120}, {}, {},
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(chosen, &wheel);
            if (focus_ == k) {
                pick(k, std::min(chosen->count() - 1, lists_[k] + 1));
            }
            break;
        }
        case Act::Start:
            focus_ = idle ? -1 : focus_;
            cut_ = cut_ && !idle;
            QTest::mouseClick(form_.findChild<QPushButton*>(QStringLiteral("Command1")),
                              Qt::LeftButton); // the run goes on in the steps after
            break;
        case Act::Wait:
            now_ += s.a % 6 + 1;
            break;
        case Act::CtrlZ: // what its handler does; stopped for a while; fg
            stop_serial_line();
            cuts_ += !cut_ && !open_.empty() ? 1 : 0;
            cut_ = cut_ || !open_.empty();
            now_ += 2;
            break;
        }
    }

    testing_support::ModemLog log_;
    Rig rig_;
    double now_ = 0.0;
    QStringList reports_;
    Form1 form_{options()};
    std::array<int, 5> lists_ = {0, 0, 2, 1, 2}; // the rows the user picked
    std::optional<Seen> reaches_;                // what Com<lists_[0] + 1> showed when picked
    int focus_ = -1;                             // the list the user put the focus in
    bool cut_ = false;                           // a stop cut the run's exposure short
    int cuts_ = 0;                               // cut exposures not yet reported
    std::map<std::string, std::string> lines_;   // "/dev/pts/3DTR" -> "DTR 1"
    std::string open_;                           // the pty the program has open
    int logged_ = 0;
    qsizetype reported_ = 0;
};

RC_GTEST_PROP(RowRule, EveryOpenAndEveryLineFollowsWhatTheUserSaw, ()) {
    const auto step = rc::gen::apply(
        [](Act act, int a, int b) {
            return Step{act, a, b};
        },
        rc::gen::weightedElement<Act>({{3, Act::Plug},
                                       {2, Act::Pull},
                                       {2, Act::Pick},
                                       {1, Act::Tab},
                                       {2, Act::Wheel},
                                       {2, Act::Start},
                                       {3, Act::Wait},
                                       {1, Act::CtrlZ}}),
        rc::gen::inRange(0, 30), rc::gen::inRange(0, 16));
    const auto steps = *rc::gen::resize(40, rc::gen::container<std::vector<Step>>(step));
    RC_ASSERT(Trial().broken_by(steps) == std::string());
}

// Orders of events that broke the rule once.
TEST(RowRule, HoldsForTheOrdersSeenBreakingIt) {
    const std::vector<std::vector<Step>> seen = {
        // Com2 picked empty; a focuser arrives at Com1 and slides into Com2
        // as the camera's adapter arrives before it.
        {{Act::Pick, 0, 1}, {Act::Plug, 4, 1}, {Act::Plug, 0, 2}, {Act::Start}, {Act::Wait, 5}},
        // START clicked with the mouse, then the wheel over the port list.
        {{Act::Plug, 0, 1}, {Act::Start}, {Act::Wait, 3}, {Act::Wheel}, {Act::Wheel}},
        // Ctrl+Z in an exposure.
        {{Act::Plug, 0, 1}, {Act::Start}, {Act::Wait, 3}, {Act::Wait, 0}, {Act::CtrlZ}},
        // The camera's adapter moved to another socket while idle.
        {{Act::Plug, 0, 1}, {Act::Pull, 0}, {Act::Plug, 0, 2}, {Act::Start}, {Act::Wait, 3}},
    };
    for (const std::vector<Step>& steps : seen) {
        EXPECT_EQ(Trial().broken_by(steps), "");
    }
}

} // namespace
} // namespace nocturo
