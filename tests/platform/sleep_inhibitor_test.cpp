// The sleep inhibitor against a logind of our own: python-dbusmock's logind
// template on a private system bus. The bus connection of a process is made
// once, so each test needs a process of its own, as CTest runs them.

#include "fakes/fixed_ports.h"
#include "platform/pty.h"
#include "platform/qt/sleep_inhibitor.h"
#include "window/form1.h"

#include <QComboBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <optional>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>

namespace nocturo {
namespace {

using testing_support::ModemLog;
using testing_support::Pty;

namespace fs = std::filesystem;

void stop(pid_t pid) {
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
}

// A system bus of the test's own, and optionally logind on it.
class PrivateBus {
public:
    enum class Logind { Absent, Answering, Silent };

    explicit PrivateBus(Logind logind) {
        char dir_template[] = "/tmp/nocturo-bus-XXXXXX";
        dir_ = mkdtemp(dir_template);
        const std::string socket = dir_ + "/system_bus_socket";
        std::ofstream(dir_ + "/system.conf")
            << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\""
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig><type>system</type><listen>unix:path="
            << socket
            << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
               "<allow user=\"*\"/><allow own=\"*\"/><allow send_destination=\"*\"/>"
               "<allow receive_sender=\"*\"/></policy></busconfig>\n";
        daemon_ = testing_support::start_system_program(
            {"/usr/bin/dbus-daemon", "--nofork", "--config-file=" + dir_ + "/system.conf"});
        for (int i = 0; i < 200 && !fs::exists(socket); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + socket).c_str(), 1);
        if (logind == Logind::Absent) {
            return;
        }
        mock_ = testing_support::start_system_program(
            {"/usr/bin/python3", "-m", "dbusmock", "--system", "--template", "logind"});
        QDBusConnectionInterface* names = QDBusConnection::systemBus().interface();
        for (int i = 0; i < 500 && !names->isServiceRegistered(kLogind).value(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (logind == Logind::Silent) {
            // Inhibit takes the mock down for longer than any test lasts.
            mock_call(QStringLiteral("AddMethod"),
                      {kManager, QStringLiteral("Inhibit"), QStringLiteral("ssss"),
                       QStringLiteral("h"), QStringLiteral("import time; time.sleep(60)")});
        }
    }
    ~PrivateBus() {
        stop(mock_);
        stop(daemon_);
        fs::remove_all(dir_);
    }
    bool ready() const { return daemon_ > 0 && QDBusConnection::systemBus().isConnected(); }

    // What logind holds now: (what, who, why, mode) of each inhibitor.
    std::vector<QStringList> inhibitors() const {
        const QDBusMessage reply = QDBusConnection::systemBus().call(QDBusMessage::createMethodCall(
            kLogind, kPath, kManager, QStringLiteral("ListInhibitors")));
        std::vector<QStringList> found;
        const QDBusArgument list = reply.arguments().value(0).value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            QString what, who, why, mode;
            uint uid = 0, pid = 0;
            list.beginStructure();
            list >> what >> who >> why >> mode >> uid >> pid;
            list.endStructure();
            found.push_back({what, who, why, mode});
        }
        list.endArray();
        return found;
    }

    // Waits until logind has seen every descriptor closed; it notices a
    // closed descriptor on its own time.
    bool none_held() const {
        for (int i = 0; i < 300; ++i) {
            if (inhibitors().empty()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    int inhibit_calls() const {
        const QDBusMessage reply =
            mock_call(QStringLiteral("GetMethodCalls"), {QStringLiteral("Inhibit")});
        const QDBusArgument calls = reply.arguments().value(0).value<QDBusArgument>();
        int count = 0;
        calls.beginArray();
        while (!calls.atEnd()) {
            QVariant call;
            calls >> call;
            ++count;
        }
        calls.endArray();
        return count;
    }

private:
    static inline const QString kLogind = QStringLiteral("org.freedesktop.login1");
    static inline const QString kPath = QStringLiteral("/org/freedesktop/login1");
    static inline const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");

    QDBusMessage mock_call(const QString& method, const QVariantList& args) const {
        QDBusMessage call = QDBusMessage::createMethodCall(
            kLogind, kPath, QStringLiteral("org.freedesktop.DBus.Mock"), method);
        call.setArguments(args);
        return QDBusConnection::systemBus().call(call);
    }

    std::string dir_;
    pid_t daemon_ = -1;
    pid_t mock_ = -1;
};

bool have_tools() {
    return fs::exists("/usr/bin/dbus-daemon") &&
           fs::exists("/usr/lib/python3/dist-packages/dbusmock/templates/logind.py");
}

// Sleep and idle, and the lid switch, which a sleep lock alone leaves free.
const std::vector<QStringList> kHeld = {
    {QStringLiteral("sleep:idle"), QStringLiteral("Nocturo"),
     QStringLiteral("A series of exposures is running"), QStringLiteral("block")},
    {QStringLiteral("handle-lid-switch"), QStringLiteral("Nocturo"),
     QStringLiteral("A series of exposures is running"), QStringLiteral("block")}};

enum class RunEnd { Finished, End, Abandoned };

struct EndCase {
    const char* name;
    RunEnd end;
};

// A private system bus with an answering logind on it.
class WithLogind : public testing::Test {
protected:
    void SetUp() override {
        if (!have_tools()) {
            GTEST_SKIP() << "needs dbus-daemon and python3-dbusmock";
        }
        logind_.emplace(PrivateBus::Logind::Answering);
        ASSERT_TRUE(logind_->ready());
    }
    std::optional<PrivateBus> logind_;
};

class InhibitorDuringARun : public WithLogind, public testing::WithParamInterface<EndCase> {};

TEST_P(InhibitorDuringARun, IsAskedForOnceAndLetGoWhenTheRunEnds) {
    PrivateBus& bus = *logind_;
    ModemLog log;
    Pty pty;
    const bool abandoned = GetParam().end == RunEnd::Abandoned;
    Form1::Options options;
    options.ports = std::make_unique<fakes::FixedPorts>(std::vector<PortInfo>{
        {abandoned ? std::string("/tmp/nocturo-no-such-port") : pty.slave(), ""}});
    bool held_at_report = false;
    options.report = [&bus, &held_at_report](QWidget*, const QString&) {
        held_at_report = !bus.none_held();
    };
    Form1 form(std::move(options));
    form.show();
    // The shortest run: a second's delay (over after half a second) and one
    // exposure of five.
    form.findChild<QComboBox*>(QStringLiteral("Combo1"))->setCurrentIndex(0);
    form.findChild<QComboBox*>(QStringLiteral("Combo2"))->setCurrentIndex(0);

    std::vector<QStringList> during;
    QTimer::singleShot(300, &form, [&] {
        during = bus.inhibitors();
        if (GetParam().end == RunEnd::End) {
            form.close();
        }
    });
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);

    EXPECT_EQ(during, kHeld);
    EXPECT_FALSE(held_at_report) << "a message that waits lets the computer sleep";
    EXPECT_EQ(form.ended(), GetParam().end == RunEnd::End);
    EXPECT_TRUE(bus.none_held());
    EXPECT_EQ(bus.inhibit_calls(), 2);
}

INSTANTIATE_TEST_SUITE_P(Ends, InhibitorDuringARun,
                         testing::Values(EndCase{"finished", RunEnd::Finished},
                                         EndCase{"end", RunEnd::End},
                                         EndCase{"abandoned", RunEnd::Abandoned}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(WithLogind, TheInhibitorIsLetGoWhenTheProgramIsKilledInTheMiddleOfAnExposure) {
    PrivateBus& bus = *logind_;
    ModemLog log;
    Pty pty;
    const pid_t child = testing_support::start_program({NOCTURO_ON_PTY, pty.slave()});
    ASSERT_GT(child, 0);
    bool exposing = false;
    for (int i = 0; i < 300 && !exposing; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        for (const auto& e : log.events(pty.slave())) {
            exposing = exposing || e.what == "DTR 1";
        }
    }
    ASSERT_TRUE(exposing);
    EXPECT_EQ(bus.inhibitors(), kHeld);
    ::kill(child, SIGTERM);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(bus.none_held());
}

struct StallCase {
    const char* name;
    bool bus;
    PrivateBus::Logind logind;
};

class StartIsNotHeldUp : public testing::TestWithParam<StallCase> {};

TEST_P(StartIsNotHeldUp, WhateverTheSystemBusDoes) {
    if (!have_tools()) {
        GTEST_SKIP() << "needs dbus-daemon and python3-dbusmock";
    }
    std::optional<PrivateBus> bus;
    if (GetParam().bus) {
        bus.emplace(GetParam().logind);
    } else {
        setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/tmp/nocturo-no-such-bus", 1);
    }
    SleepInhibitor inhibitor;
    QElapsedTimer clock;
    clock.start();
    inhibitor.hold();
    const qint64 ms = clock.elapsed();
    std::printf("hold took %lld ms\n", static_cast<long long>(ms));
    EXPECT_LE(ms, 500) << "a call that waits for logind waits up to 25 s; qemu-user takes 115 ms";
    // The run is over before any answer can come: an answer is dropped.
    inhibitor.release();
    QTest::qWait(300);
    if (bus && GetParam().logind == PrivateBus::Logind::Answering) {
        EXPECT_EQ(bus->inhibit_calls(), 2);
        EXPECT_TRUE(bus->none_held());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Buses, StartIsNotHeldUp,
    testing::Values(StallCase{"no_system_bus", false, PrivateBus::Logind::Absent},
                    StallCase{"no_logind", true, PrivateBus::Logind::Absent},
                    StallCase{"logind_never_answers", true, PrivateBus::Logind::Silent},
                    StallCase{"logind_answers", true, PrivateBus::Logind::Answering}),
    [](const auto& p) { return std::string(p.param.name); });

} // namespace
} // namespace nocturo
