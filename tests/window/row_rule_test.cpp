// Which device a row reaches, and that only the user changes a setting,
// proven over orders of events as a state machine. The model knows what the
// rig physically is (which adapter sits in which socket, which were plugged
// in at once, the names the kernel gave their ports) and what the user did
// and saw; it knows nothing of how the program tells adapters apart. After
// every step each effect the recorder saw on the pseudo-terminals behind the
// rig is held against it: every open, every DTR and RTS edge, the lines at
// each stop and at the end of each series, and the count of exposures left.

#include "fakes/sysfs_tree.h"
#include "platform/os/shutdown_signals.h"
#include "platform/pty.h"
#include "window/form1.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <gtest/gtest.h>
#include <rapidcheck.h>
#include <rapidcheck/gtest.h>
#include <rapidcheck/state.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <semaphore>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace nocturo {
namespace {

namespace fs = std::filesystem;

// The rig: the camera's FTDI clone and the focuser's, with one serial; two
// CH340s without one; a cable of two ports; and a focuser's board (ttyACM,
// whose rows come after the ttyUSB ones).
struct Adapter {
    const char* ids;
    const char* serial;
    int ports;
};
constexpr Adapter kRig[] = {{"0403:6001", "A50285BI", 1}, {"0403:6001", "A50285BI", 1},
                            {"1a86:7523", "", 1},         {"1a86:7523", "", 1},
                            {"0403:6010", "Q1", 2},       {"2341:0043", "F1", 1}};
constexpr int kAdapters = 6, kSockets = 7, kBoard = 5;
constexpr int kRows[] = {16, 60, 10, 25, 15}; // of the port list and the four timing lists

bool alike(int a, int b) {
    return std::strcmp(kRig[a].ids, kRig[b].ids) == 0 &&
           std::strcmp(kRig[a].serial, kRig[b].serial) == 0;
}

struct Port {
    int adapter;
    int index; // its place on the adapter
    bool operator==(const Port&) const = default;
};

struct Model {
    // The rig, and what of it the program has listed (after every burst).
    std::array<int, kAdapters> socket = {-1, -1, -1, -1, -1, -1}; // -1: not plugged in
    std::array<int, kAdapters> plugs = {};                        // times plugged in
    std::map<std::string, Port> names;                            // "ttyUSB0": its port
    std::set<int> listed;
    std::map<std::pair<int, int>, int> met; // a listed beside b, with b's plugs then
    std::array<bool, kAdapters> moved = {}; // pulled out after meeting a look-alike
    // The user.
    std::array<int, 5> rows = {0, 0, 2, 1, 2}; // picked
    int focus = -1;                            // the list clicked last
    std::optional<Port> seen;                  // what the port row showed when picked
    int home = -1, seen_plugs = 0;             // where it was then, and its plugs
    bool shaken = false; // it moved after meeting a look-alike, or a look-alike has since
    bool idle = true;    // no series showed as running
    bool ended = false;  // by SIGTERM
    std::set<int> held;  // adapters another program holds by a lock file
};

std::optional<Port> at_place(const Model& m, int row) {
    std::vector<std::pair<std::string, Port>> ports(m.names.begin(), m.names.end());
    std::sort(ports.begin(), ports.end(), [](const auto& x, const auto& y) {
        return std::pair(x.first[3] == 'A', std::stoi(x.first.substr(6))) <
               std::pair(y.first[3] == 'A', std::stoi(y.first.substr(6)));
    });
    return row < static_cast<int>(ports.size()) ? std::optional(ports[row].second) : std::nullopt;
}

void pick(Model& m, int list, int row) {
    m.rows[list] = row;
    if (list == 0 && (m.seen = at_place(m, row))) {
        const int k = m.seen->adapter;
        std::tie(m.home, m.seen_plugs, m.shaken) = std::tuple(m.socket[k], m.plugs[k], m.moved[k]);
    }
}

// The row must reach the adapter it showed while that never left; or
// carries a serial no other adapter carried in any listing; or is back in
// the socket it was seen in, nothing alike having moved meanwhile, and every
// look-alike it was ever listed beside is still there, never pulled since.
bool must(const Model& m) {
    if (!m.seen || m.socket[m.seen->adapter] < 0) {
        return false;
    }
    const int k = m.seen->adapter;
    bool unique = *kRig[k].serial != '\0', stayed = true;
    for (int b = 0; b < kAdapters; ++b) {
        const auto met = m.met.find({k, b});
        unique = unique && (b == k || !alike(b, k) || m.listed.count(b) == 0);
        stayed = stayed && (met == m.met.end() || !alike(b, k) || m.plugs[b] == met->second);
    }
    return m.plugs[k] == m.seen_plugs || unique || (m.socket[k] == m.home && stayed && !m.shaken);
}

// It may reach the port it showed, or that port of a look-alike that was
// never listed beside it.
bool may(const Model& m, const Port& port) {
    return m.seen && (port == *m.seen ||
                      (port.index == m.seen->index && alike(port.adapter, m.seen->adapter) &&
                       m.met.count({m.seen->adapter, port.adapter}) == 0));
}

class Trial;
using Command = rc::state::Command<Model, Trial>;
using Commands = rc::state::Commands<Command>;

// The handlers' last act, which the trial must outlive: the stop or the end
// is written into the recorder's log. At the end another file takes the
// descriptor the handler let go, as it may in a program that goes on for a
// moment: the line must leave it alone.
char g_log[256];
int g_taken = -1;
void note_last_act(int signal_number) {
    const char* what = signal_number == SIGTSTP ? "0 * stopped\n" : "0 * ended\n";
    const int fd = ::open(g_log, O_WRONLY | O_APPEND | O_CLOEXEC);
    (void)!::write(fd, what, std::strlen(what));
    ::close(fd);
    if (signal_number != SIGTSTP && g_taken < 0) {
        g_taken = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    }
}

class Trial {
public:
    Trial() {
        std::strncpy(g_log, log_.path().c_str(), sizeof g_log - 1);
        install_shutdown_handlers();
        replace_last_act_of_signal_handlers(note_last_act);
    }
    ~Trial() {
        other_thread_.release();
        unsetenv("NOCTURO_MODEM_SIGNAL");
    }

    // The first effect that breaks the rule, or "" when none does.
    std::string broken_by(const Commands& commands) {
        form_.show();
        Model model;
        std::string broken;
        std::size_t next = 0;
        QEventLoop loop;
        std::function<void()> step = [&] { // each in a pass of its own, so in a run too
            if (QApplication::activeModalWidget() != nullptr || !form_.isActiveWindow()) {
                form_.activateWindow(); // a message box is closed, and the user is back
                QTimer::singleShot(0, step);
            } else if (broken.empty() && next < commands.size() && !ended_) {
                QTimer::singleShot(0, step); // first: START runs the series within its step
                if ((broken = check(model)).empty()) {
                    model.idle = !form_.running();
                    commands[next]->apply(model); // first: the rig takes the kernel's names
                    commands[next++]->run(model, *this);
                }
                broken = broken.empty() ? check(model) : broken; // or a step within it
            } else if (form_.running()) {
                for (auto it = names_.begin(); (ended_ || !broken.empty()) && it != names_.end();
                     it = names_.erase(it)) {
                    pull(it->first); // as gone as the program: nothing more is opened
                }
                now_ += 20; // the run goes on to its end
                QTimer::singleShot(0, step);
            } else {
                loop.quit();
            }
        };
        QTimer::singleShot(0, step);
        loop.exec();
        if (g_taken >= 0 && ::close(std::exchange(g_taken, -1)) != 0 && broken.empty()) {
            broken = "the line closed a descriptor the SIGTERM handler had let go";
        }
        return broken.empty() ? check(model) : broken;
    }

    // Makes the rig what the model says, in the kernel's order: the pulled
    // adapters' nodes go, the new adapters come, one notice, and the rest of
    // the pulled adapters' entries go a moment later.
    void realise(const Model& m) {
        std::set<std::string> later;
        for (auto it = names_.begin(); it != names_.end();) {
            const int a = it->second.adapter;
            if (m.socket[a] >= 0 && m.plugs[a] == plugged_[a]) {
                ++it;
                continue;
            }
            later.insert(it->first);
            pull(it->first);
            it = names_.erase(it);
        }
        for (const auto& [name, port] : m.names) {
            const int a = port.adapter;
            const std::string usb = "1-" + std::to_string(m.socket[a]);
            if (plugged_[a] != m.plugs[a]) {
                fs::remove_all(sysfs_.root / "devices/usb1" / usb);
                sysfs_.adapter(usb, "USB Serial", kRig[a].serial,
                               std::string(kRig[a].ids, 4).c_str(), kRig[a].ids + 5);
                plugged_[a] = m.plugs[a];
            }
            if (names_.emplace(name, port).second) {
                later.erase(name); // the kernel gives a name again once its entry is gone
                fs::remove_all(sysfs_.root / "class/tty" / name);
                sysfs_.tty(name, nullptr, usb, std::to_string(port.index).c_str());
                ptys_[name] = std::make_unique<testing_support::Pty>();
                sysfs_.node(name, ptys_[name]->slave());
                devices_[ptys_[name]->slave()] = port;
            }
        }
        form_.ports_changed();
        for (const std::string& name : later) {
            sysfs_.unplug(name);
        }
        lock(m);
    }
    // Another program's lock files, one for each port of the adapters it
    // holds, as cu or minicom take them.
    void lock(const Model& m) {
        fs::remove_all(sysfs_.root / "lock");
        fs::create_directories(sysfs_.root / "lock");
        for (const auto& [name, port] : m.names) {
            if (m.held.count(port.adapter) != 0) {
                fakes::SysfsTree::write(sysfs_.root / "lock" / ("LCK.." + name),
                                        std::to_string(::getppid()));
            }
        }
    }
    QComboBox* list(int k) {
        const char* names[] = {"cboPort", "kiestijd", "Combo1", "Combo2", "Combo3"};
        return form_.findChild<QComboBox*>(QString::fromLatin1(names[k]));
    }
    void start() {
        QTest::mouseClick(form_.findChild<QPushButton*>(QStringLiteral("Command1")),
                          Qt::LeftButton);
    }
    void wait(int seconds) { now_ += seconds; }

private:
    Form1::Options options() {
        Form1::Options options;
        options.ports = std::make_unique<SystemPorts>(sysfs_.system());
        options.pump = QtPump::Mode::Busy;
        fakes::SysfsTree::write(sysfs_.root / "proc/locks", "");
        options.claims = {(sysfs_.root / "proc/locks").string(), (sysfs_.root / "proc").string(),
                          (sysfs_.root / "lock").string()};
        options.clock = SteadyDayClock([] { return 43200.0; }, [this] { return now_; });
        options.report = [this](QWidget* window, const QString& message) {
            reports_ << message;
            QMessageBox box(QMessageBox::NoIcon, {}, message, QMessageBox::Ok, window);
            QTimer::singleShot(0, &box, &QDialog::accept);
            box.exec();
        };
        return options;
    }
    // A port pulled out hangs up, and its lines are gone with it.
    void pull(const std::string& name) {
        fs::remove(sysfs_.root / "dev" / name);
        ptys_[name]->hang_up();
        lines_[ptys_[name]->slave()].dtr = lines_[ptys_[name]->slave()].rts = false;
    }
    QString remaining() { return form_.findChild<QLabel*>(QStringLiteral("Label3"))->text(); }

    std::string check(const Model& m) {
        std::ifstream in(log_.path());
        std::string ns, device, what;
        int frames = 0;
        for (int n = 0; in >> ns >> device && std::getline(in >> std::ws, what); ++n) {
            if (n < logged_) {
                continue;
            }
            logged_ = n + 1;
            Lines& lines = lines_[device];
            const Port port = devices_.count(device) != 0 ? devices_[device] : Port{-1, -1};
            const std::string named = device + " (adapter " + std::to_string(port.adapter) +
                                      " port " + std::to_string(port.index) + ")";
            if (device == "*") { // the program stopped or ended
                for (const auto& [other, held] : lines_) {
                    if (held.dtr || (what == "ended" && held.rts)) {
                        return "a line of " + other + " was high as the program " + what;
                    }
                    cut_ = cut_ || (what == "stopped" && held.open);
                }
                ended_ = ended_ || what == "ended";
                unsetenv("NOCTURO_MODEM_SIGNAL");
            } else if (what == "open" &&
                       (ended_ || cut_ || !may(m, port) || m.held.count(port.adapter) != 0)) {
                return "opened " + named + (ended_ ? " after the end" : "") +
                       (m.held.count(port.adapter) != 0 ? ", which another program holds" : "") +
                       (cut_ ? " after Ctrl+Z cut the exposure" : "") + "; Com" +
                       std::to_string(m.rows[0] + 1) + " showed " +
                       (m.seen ? "adapter " + std::to_string(m.seen->adapter) : "nothing");
            } else if (what == "open" || what == "close") {
                frames += (lines.open = what == "open");
            } else if (!lines.open && what.back() == '1') {
                return "raised " + what + " of " + named + ", which is not open";
            } else if (cut_ && what == "DTR 1") {
                return "the shutter opened again after Ctrl+Z";
            } else {
                (what[0] == 'D' ? lines.dtr : lines.rts) = what.back() == '1';
            }
        }
        for (int k = 0; k < 5 && !ended_; ++k) {
            if (list(k)->currentIndex() != m.rows[k]) {
                return list(k)->objectName().toStdString() + " changed with no act of the user";
            }
        }
        for (; reported_ < reports_.size(); ++reported_) {
            const QString& said = reports_[reported_];
            if (must(m) && !ended_ &&
                (said.contains(QStringLiteral("not conn")) ||
                 said.contains(QStringLiteral("cannot be told")))) {
                return "said the row cannot reach adapter " + std::to_string(m.seen->adapter) +
                       ", which it must: " + said.toStdString();
            }
            stopped_said_ = stopped_said_ || said.contains(QStringLiteral("cut short"));
        }
        const bool running = form_.running();
        if (running && running_ && remaining() != remaining_ && frames == 0) {
            return "the exposures left went from \"" + remaining_.toStdString() + "\" to \"" +
                   remaining().toStdString() + "\" with no frame taken";
        }
        if (running_ && !running) { // the series is over
            for (const auto& [other, held] : lines_) {
                if (held.open || held.dtr || held.rts) {
                    return other + " was left open or a line high as the series ended";
                }
            }
            if (cut_ && !stopped_said_ && !ended_) {
                return "the series cut short by Ctrl+Z ended with no word of it";
            }
            cut_ = stopped_said_ = false;
        }
        running_ = running;
        remaining_ = remaining();
        return {};
    }

    testing_support::ModemLog log_;
    fakes::SysfsTree sysfs_{"nocturo-rig"};
    double now_ = 0.0;
    QStringList reports_;
    Form1 form_{options()};
    // Another of the program's threads, where a signal to the process may land.
    std::binary_semaphore other_thread_{0};
    std::jthread other_{[this] { other_thread_.acquire(); }};
    struct Lines {
        bool open = false, dtr = false, rts = false;
    };
    std::map<int, int> plugged_;        // adapter: the plug-in the tree shows
    std::map<std::string, Port> names_; // the names the kernel has given
    std::map<std::string, std::unique_ptr<testing_support::Pty>> ptys_;
    std::map<std::string, Port> devices_; // /dev/pts/N: the port it stands for
    std::map<std::string, Lines> lines_;
    int logged_ = 0;
    qsizetype reported_ = 0;
    bool cut_ = false, stopped_said_ = false, ended_ = false, running_ = false;
    QString remaining_;
};

// Every act but a SIGTERM's needs the program.
struct Act : Command {
    void checkPreconditions(const Model& m) const override { RC_PRE(!m.ended); }
};

// Several adapters plugged in and pulled out, then one notice: a hub, or a
// pull and a plug within the second's grace.
struct Burst final : Act {
    std::vector<std::pair<int, int>> changes; // adapter, socket; -1 pulls it out
    explicit Burst(std::vector<std::pair<int, int>> c) : changes(std::move(c)) {}
    explicit Burst(const Model& m) {
        std::array<int, kAdapters> socket = m.socket;
        for (int n = *rc::gen::inRange(1, 4); n > 0; --n) {
            const int a = *rc::gen::inRange(0, kAdapters);
            std::vector<int> free;
            for (int s = 1; s <= kSockets; ++s) {
                if (std::find(socket.begin(), socket.end(), s) == socket.end()) {
                    free.push_back(s);
                }
            }
            changes.emplace_back(a, socket[a] = socket[a] >= 0 ? -1 : *rc::gen::elementOf(free));
        }
    }
    void checkPreconditions(const Model& m) const override {
        Act::checkPreconditions(m);
        std::array<int, kAdapters> socket = m.socket;
        for (const auto& [a, s] : changes) {
            RC_PRE((s < 0) != (socket[a] < 0) &&
                   (s < 0 || std::find(socket.begin(), socket.end(), s) == socket.end()));
            socket[a] = s;
        }
    }
    void apply(Model& m) const override {
        const Model before = m;
        for (const auto& [a, s] : changes) {
            m.shaken = m.shaken || (m.seen && a != m.seen->adapter && alike(a, m.seen->adapter));
            std::erase_if(m.names, [a = a](const auto& n) { return n.second.adapter == a; });
            for (const auto& [pair, plugs] : m.met) {
                m.moved[a] = m.moved[a] || (s < 0 && pair.first == a && alike(a, pair.second));
            }
            m.plugs[a] += (m.socket[a] = s) >= 0;
            const std::string kind = a == kBoard ? "ttyACM" : "ttyUSB"; // the lowest free number
            for (int port = 0, n = 0; s >= 0 && port < kRig[a].ports; ++n) {
                port += m.names.emplace(kind + std::to_string(n), Port{a, port}).second;
            }
        }
        std::vector<int> changed;
        for (int a = 0; a < kAdapters; ++a) {
            if ((m.socket[a] >= 0 || before.socket[a] >= 0) &&
                (m.socket[a] != before.socket[a] || m.plugs[a] != before.plugs[a])) {
                changed.push_back(a); // as the listing shows it
            }
            for (int b = 0; m.socket[a] >= 0 && b < kAdapters; ++b) {
                m.listed.insert(a);
                if (b != a && m.socket[b] >= 0) {
                    m.met.emplace(std::pair(a, b), m.plugs[b]);
                }
            }
        }
        // An empty row takes the adapter whose arrival alone put it there.
        const std::optional<Port> place = at_place(m, m.rows[0]);
        if (m.idle && !m.seen && changed.size() == 1 && before.socket[changed[0]] < 0 && place &&
            place->adapter == changed[0]) {
            pick(m, 0, m.rows[0]);
        }
    }
    void run(const Model& m, Trial& trial) const override { trial.realise(m); }
    void show(std::ostream& out) const override {
        for (const auto& [a, s] : changes) {
            out << (s < 0 ? "pull " : "plug ") << a << (s < 0 ? "" : " in 1-" + std::to_string(s))
                << "; ";
        }
        out << "notice";
    }
};

// A click in a list, then a row from its drop-down.
struct Pick final : Act {
    int list, row;
    Pick(int l, int r) : list(l), row(r) {}
    explicit Pick(const Model&)
        : list(*rc::gen::inRange(0, 5)),
          row(*rc::gen::resize(100, rc::gen::inRange(0, kRows[list]))) {}
    void apply(Model& m) const override {
        m.focus = list;
        pick(m, list, row);
    }
    void run(const Model&, Trial& trial) const override {
        QComboBox* chosen = trial.list(list);
        QTest::mouseClick(chosen->lineEdit(), Qt::LeftButton);
        chosen->setCurrentIndex(row);
        Q_EMIT chosen->activated(row);
    }
    void show(std::ostream& out) const override { out << "pick " << list << " row " << row; }
};

// The pointer rests on a list and the wheel turns a step down.
struct Wheel final : Act {
    int list;
    explicit Wheel(int l) : list(l) {}
    explicit Wheel(const Model&) : list(*rc::gen::inRange(0, 5)) {}
    void apply(Model& m) const override {
        if (m.focus == list) {
            pick(m, list, std::min(kRows[list] - 1, m.rows[list] + 1));
        }
    }
    void run(const Model&, Trial& trial) const override {
        QWheelEvent wheel({5, 5}, trial.list(list)->mapToGlobal(QPointF(5, 5)), {}, {0, -120}, {},
                          {}, Qt::NoScrollPhase, false);
        QApplication::sendEvent(trial.list(list), &wheel);
    }
    void show(std::ostream& out) const override { out << "wheel over " << list; }
};

// START with the mouse: the focus goes to the window. The series runs on
// across the steps after it.
struct Start final : Act {
    Start() = default;
    explicit Start(const Model&) {}
    void apply(Model& m) const override { m.focus = m.idle ? -1 : m.focus; }
    void run(const Model&, Trial& trial) const override { trial.start(); }
    void show(std::ostream& out) const override { out << "start"; }
};

struct Wait final : Act {
    int seconds;
    explicit Wait(int s) : seconds(s) {}
    explicit Wait(const Model&) : seconds(*rc::gen::inRange(1, 31)) {}
    void run(const Model&, Trial& trial) const override { trial.wait(seconds); }
    void show(std::ostream& out) const override { out << "wait " << seconds; }
};

// Another program takes an adapter's ports by lock files, or lets them go.
struct Hold final : Act {
    int adapter;
    explicit Hold(const Model&) : adapter(*rc::gen::inRange(0, kAdapters)) {}
    void apply(Model& m) const override {
        if (m.held.erase(adapter) == 0) {
            m.held.insert(adapter);
        }
    }
    void run(const Model& m, Trial& trial) const override { trial.lock(m); }
    void show(std::ostream& out) const override { out << "lock files for " << adapter; }
};

// Ctrl+Z and fg, or a kill, through the kernel: now, or at the next open of
// a port once the kernel has raised its lines, or inside its set-up.
struct Signal final : Act {
    int number;
    std::string at;
    Signal(int n, std::string a) : number(n), at(std::move(a)) {}
    explicit Signal(const Model&)
        : number(*rc::gen::weightedElement<int>({{4, SIGTSTP}, {1, SIGTERM}})),
          at(*rc::gen::element<std::string>("now", "open", "tcsetattr")) {}
    void apply(Model& m) const override { m.ended = number == SIGTERM; }
    void run(const Model&, Trial&) const override {
        if (at == "now") {
            ::kill(::getpid(), number);
            ::kill(::getpid(), SIGCONT);
        } else {
            setenv("NOCTURO_MODEM_SIGNAL", (std::to_string(number) + "@" + at).c_str(), 1);
        }
    }
    void show(std::ostream& out) const override {
        out << (number == SIGTSTP ? "SIGTSTP " : "SIGTERM ") << at;
    }
};

RC_GTEST_PROP(RowRule, HoldsOverEveryOrderOfEvents, ()) {
    const Commands commands = *rc::gen::resize(
        40, rc::state::gen::commands(
                Model{}, rc::state::gen::execOneOfWithArgs<Burst, Burst, Pick, Wheel, Start, Wait,
                                                           Wait, Signal, Hold>()));
    RC_ASSERT(Trial().broken_by(commands) == std::string());
}

template <typename C, typename... Args> std::shared_ptr<const Command> act(Args... args) {
    return std::make_shared<C>(args...);
}
std::shared_ptr<const Command> burst(std::vector<std::pair<int, int>> changes) {
    return act<Burst>(std::move(changes));
}

// The orders seen breaking the rule, first of all.
TEST(RowRule, HoldsForTheOrdersSeenBreakingIt) {
    const std::vector<Commands> seen = {
        // The camera's clone pulled in the pause; the focuser's clone, with
        // the same serial, is the only one left.
        {burst({{0, 1}, {1, 2}}), act<Pick>(0, 0), act<Start>(), act<Wait>(3), act<Wait>(5),
         burst({{0, -1}}), act<Wait>(5)},
        // Com2 picked empty; a hub brings the focuser's board and the
        // camera's adapter at once, and the board lands at Com2.
        {act<Pick>(0, 1), burst({{kBoard, 1}, {0, 2}}), act<Start>(), act<Wait>(3)},
        // Ctrl+Z as the port opens, once the kernel has raised its lines.
        {burst({{0, 1}}), act<Signal>(SIGTSTP, "open"), act<Start>(), act<Wait>(3)},
        // SIGTERM in an exposure.
        {burst({{0, 1}}), act<Start>(), act<Wait>(3), act<Signal>(SIGTERM, "now")},
        // Com2 picked empty; the focuser's board arrives at Com1 and slides
        // into Com2 as the camera's adapter arrives before it.
        {act<Pick>(0, 1), burst({{kBoard, 1}}), burst({{0, 2}}), act<Start>(), act<Wait>(5)},
        // START clicked with the mouse, then the wheel over the port list.
        {burst({{0, 1}}), act<Start>(), act<Wait>(3), act<Wheel>(0)},
        // Ctrl+Z in an exposure.
        {burst({{0, 1}}), act<Start>(), act<Wait>(3), act<Wait>(1), act<Signal>(SIGTSTP, "now")},
        // The camera's adapter moved to another socket while idle.
        {burst({{0, 1}}), burst({{0, -1}}), burst({{0, 2}}), act<Start>(), act<Wait>(3)}};
    for (const Commands& commands : seen) {
        EXPECT_EQ(Trial().broken_by(commands), "") << rc::toString(commands);
    }
}

} // namespace
} // namespace nocturo
