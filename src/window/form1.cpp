#include "window/form1.h"

#include "platform/qt/port_watch.h"
#include "window/look.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QToolTip>
#include <QWindow>

#include <cmath>

namespace nocturo {
namespace {

#include "window/nocturo_icon.xpm"

// Layout positions are in twips: 15 to a pixel at 96 dpi. Qt scales pixels
// by the screen's device-pixel ratio, so the window stays sharp and the same
// size on a high-density screen.
int px(int twips) {
    return static_cast<int>(std::lround(twips / 15.0));
}

QRect twips(int left, int top, int width, int height) {
    return {px(left), px(top), px(width), px(height)};
}

class QtApplication : public Application {
public:
    explicit QtApplication(QWidget* window) : window_(window) {}
    void hide_window() override { window_->hide(); }
    [[noreturn]] void end_program() override { throw ProgramEnd{}; }

private:
    QWidget* window_;
};

// Answers the port list's tooltip request with what the selected row reaches now.
class PortToolTip : public QObject {
public:
    PortToolTip(QObject* parent, std::function<QString()> text)
        : QObject(parent), text_(std::move(text)) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ToolTip) {
            auto* help = static_cast<QHelpEvent*>(event);
            QToolTip::showText(help->globalPos(), text_(), qobject_cast<QWidget*>(watched));
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<QString()> text_;
};

// A list takes the wheel only while the user is using it, that is while it
// has the focus the user put there with a click or Tab: a pointer resting
// on a list or a touchpad brushed on the way past changes nothing. With that
// focus, a wheel step is a pick, as an arrow key is. Keys come only to the
// list that has the focus, and the program never gives a list the focus
// (START keeps it from the start, and gives it to the window): whoever put
// it there, a screen reader or switch access too, it was the user.
class ListsAnswerTheUser : public QObject {
public:
    using QObject::QObject;

    void watch(QComboBox* list) {
        list->installEventFilter(this);
        list->lineEdit()->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* list = qobject_cast<QComboBox*>(watched);
        if (list == nullptr) {
            list = qobject_cast<QComboBox*>(watched->parent());
        }
        switch (event->type()) {
        case QEvent::FocusIn:
            if (is_users(static_cast<QFocusEvent*>(event)->reason())) {
                chosen_ = list;
            }
            break;
        case QEvent::FocusOut: {
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            // Another window took the focus (a screen lock, another program,
            // a message): the editing is not over, and neither the list nor its
            // text field is told, as the field would end it and the list pick
            // what the text names on the way. It goes on when this window is
            // active again.
            if (reason == Qt::ActiveWindowFocusReason) {
                return true;
            }
            // The focus leaves for good, not only while a popup has it.
            if (chosen_ == list && !QApplication::activePopupWidget() &&
                reason != Qt::PopupFocusReason) {
                chosen_ = nullptr;
            }
            break;
        }
        case QEvent::Wheel:
            // The wheel comes to whatever the pointer rests on, in a window
            // that is not the active one too.
            if (list != chosen_ || !list->hasFocus()) {
                event->accept();
                return true;
            }
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    static bool is_users(Qt::FocusReason reason) {
        return reason == Qt::MouseFocusReason || reason == Qt::TabFocusReason ||
               reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason;
    }

    QComboBox* chosen_ = nullptr;
};

} // namespace

struct Form1::Widgets {
    QComboBox* cboPort = nullptr;
    QComboBox* kiestijd = nullptr;
    QComboBox* Combo1 = nullptr;
    QComboBox* Combo2 = nullptr;
    QComboBox* Combo3 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QPushButton* Command1 = nullptr;
    QProgressBar* Bar1 = nullptr;
    QProgressBar* Bar2 = nullptr;
    QAction* einde = nullptr;
};

struct Form1::Adapters {
    Adapters(const Widgets& w, SerialControl& comm, Clock& clock, EventPump& pump, QWidget* window)
        : cboPort(w.cboPort), kiestijd(w.kiestijd), Combo1(w.Combo1), Combo2(w.Combo2),
          Combo3(w.Combo3), Label1(w.Label1), Label2(w.Label2), Label3(w.Label3), Label4(w.Label4),
          Label5(w.Label5), Command1(w.Command1), Bar1(w.Bar1), Bar2(w.Bar2),
          app(window), controls{cboPort, kiestijd, Combo1, Combo2, Combo3,   Label1,
                                Label2,  Label3,   Label4, Label5, Command1, Bar1,
                                Bar2,    comm,     clock,  pump,   app} {}

    QtList cboPort, kiestijd, Combo1, Combo2, Combo3;
    QtLabel Label1, Label2, Label3, Label4, Label5;
    QtButton Command1;
    QtProgressBar Bar1, Bar2;
    QtApplication app;
    Controls controls;
};

Form1::Form1() : Form1(Options{}) {}

Form1::Form1(Options options)
    : w_(std::make_unique<Widgets>()),
      ports_(options.ports ? std::move(options.ports) : std::make_unique<SystemPorts>()),
      directory_(*ports_),
      clock_(options.clock ? std::move(*options.clock) : SteadyDayClock::system()),
      pump_(clock_, options.pump), alarm_(clock_),
      comm_(directory_, alarm_, options.claims.value_or(ClaimPlaces::system())),
      report_(std::move(options.report)) {
    setObjectName(QStringLiteral("Form1"));
    build_layout();
    a_ = std::make_unique<Adapters>(*w_, comm_, clock_, pump_, this);
    routines_ = std::make_unique<Form1Routines>(a_->controls);
    pump_.watch([this] { comm_.check_line(); });
    pump_.work_while_waiting([this](std::chrono::microseconds budget) {
        return comm_.read_ahead(static_cast<std::int16_t>(port_row()), budget);
    });
    pump_.on_shown([this] { on_event([this] { routines_->show_status(); }); });
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this] { note_visibility(); });
    wire_events();
    Form_Load();
    w_->Command1->setFocus();
    pick_port(); // the row reaches what its tooltip shows from the start
}

Form1::~Form1() = default;

void Form1::build_layout() {
    setWindowTitle(QStringLiteral("Nocturo"));
    setWindowIcon(QIcon(QPixmap(nocturo_icon_xpm)));

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(px(6750), px(5490));
    colour_client(client);
    client->setFont(sans_bold(11));
    setCentralWidget(client);

    auto frame = [](QWidget* parent, const char* name, const char* caption, QRect geometry) {
        auto* box = new Frame(QString::fromLatin1(caption), parent);
        box->setObjectName(QString::fromLatin1(name));
        box->setGeometry(geometry);
        box->setAutoFillBackground(true);
        return box;
    };
    auto* user = new ListsAnswerTheUser(this);
    auto list = [user](QWidget* parent, const char* name, QRect geometry) {
        auto* combo = new QComboBox(parent);
        combo->setObjectName(QString::fromLatin1(name));
        combo->setFocusPolicy(Qt::StrongFocus); // a click or Tab, never the wheel
        combo->setLineEdit(new TextField(combo));
        user->watch(combo);
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->setCompleter(nullptr);
        combo->setMaxVisibleItems(16);
        combo->setGeometry(geometry);
        return combo;
    };
    auto label = [](QWidget* parent, const char* name, const char* text, QRect geometry) {
        auto* l = new QLabel(QString::fromLatin1(text), parent);
        l->setObjectName(QString::fromLatin1(name));
        l->setGeometry(geometry);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        l->setAutoFillBackground(true);
        return l;
    };
    auto bar = [](QWidget* parent, const char* name, QRect geometry) {
        auto* b = new Bar(parent);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(geometry);
        b->setTextVisible(false);
        b->setRange(0, 100);
        b->setValue(0);
        return b;
    };

    // Created top of the window first; a control created later is drawn
    // above one created earlier, so the lists and Bar1 that belong to the
    // window itself lie over the frames they sit in.
    frame(client, "Frame1", "  Com port", twips(600, 240, 1335, 735));
    auto* frame5 = frame(client, "Frame5", " Start Delay", twips(2640, 240, 1575, 735));
    w_->Combo1 = list(frame5, "Combo1", twips(240, 240, 1215, 315));
    auto* frame3 = frame(client, "Frame3", "  No Exp.", twips(4800, 240, 1335, 735));
    w_->Combo2 = list(frame3, "Combo2", twips(120, 240, 975, 315));
    frame(client, "Frame2", " Exposure Time", twips(1080, 1320, 1695, 735));
    auto* frame4 = frame(client, "Frame4", "Sec's between Exp.", twips(3600, 1320, 1935, 735));
    w_->Combo3 = list(frame4, "Combo3", twips(240, 240, 1455, 315));

    w_->Command1 = new QPushButton(QStringLiteral("START"), client);
    w_->Command1->setObjectName(QStringLiteral("Command1"));
    w_->Command1->setGeometry(twips(2280, 2280, 2055, 670));
    w_->Command1->setFont(sans_bold(24));
    // Qt's first focus goes to START, also where buttons take none by default.
    w_->Command1->setFocusPolicy(Qt::StrongFocus);
    colour_start(w_->Command1);

    auto* frame6 = frame(client, "Frame6", "Information", twips(240, 3120, 6255, 2175));
    w_->Label3 = label(frame6, "Label3", "Exposures Remaining: 0", twips(120, 360, 2415, 375));
    w_->Label5 = label(frame6, "Label5", "         Idle", twips(3360, 420, 2415, 375));
    w_->Label5->setFont(sans_bold(18));
    w_->Label2 = label(frame6, "Label2", "Current Exposure Time: 0", twips(120, 840, 2655, 255));
    w_->Label1 = label(frame6, "Label1", "", twips(120, 1560, 3015, 375));
    w_->Label4 = label(frame6, "Label4", "Time remaining: 0 Seconds", twips(3240, 1560, 2895, 375));
    w_->Bar2 = bar(frame6, "Bar2", twips(120, 1800, 6015, 255));

    w_->cboPort = list(client, "cboPort", twips(720, 480, 1095, 315));
    w_->kiestijd = list(client, "kiestijd", twips(1320, 1560, 1215, 315));
    w_->Bar1 = bar(client, "Bar1", twips(360, 4200, 6015, 255));

    // Screen readers and UI automation find each control by what it is for.
    const std::pair<QWidget*, const char*> roles[] = {
        {w_->cboPort, "Com port"},          {w_->kiestijd, "Exposure Time"},
        {w_->Combo1, "Start Delay"},        {w_->Combo2, "No Exp."},
        {w_->Combo3, "Sec's between Exp."}, {w_->Command1, "START"},
        {w_->Bar1, "Exposure progress"},    {w_->Bar2, "Run progress"}};
    for (const auto& [widget, name] : roles) {
        widget->setAccessibleName(QString::fromLatin1(name));
    }

    setTabOrder(w_->Command1, w_->cboPort);
    setTabOrder(w_->cboPort, w_->kiestijd);
    setTabOrder(w_->kiestijd, w_->Combo1);
    setTabOrder(w_->Combo1, w_->Combo2);
    setTabOrder(w_->Combo2, w_->Combo3);

    w_->einde = menuBar()->addAction(QStringLiteral("End"));
    w_->einde->setObjectName(QStringLiteral("einde"));

    // Nothing in the layout moves or grows: the window cannot be resized or
    // maximised.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    w_->cboPort->installEventFilter(new PortToolTip(this, [this] { return port_tooltip(); }));
}

void Form1::wire_events() {
    auto click = [this](QComboBox* combo, void (Form1::*handler)()) {
        wire_picks(combo, [this, handler] { (this->*handler)(); });
    };
    click(w_->kiestijd, &Form1::kiestijd_Click);
    click(w_->Combo1, &Form1::Combo1_Click);
    click(w_->Combo2, &Form1::Combo2_Click);
    click(w_->Combo3, &Form1::Combo3_Click);
    wire_picks(w_->cboPort, [this] { pick_port(); });
    // A screen reader gives the port's description without hovering.
    connect(w_->cboPort, &QComboBox::currentIndexChanged, this,
            [this] { on_event([this] { describe_port(); }); });
    new PortWatch(this, directory_.watched_folders(), [this] { ports_changed(); });
    loss_grace_.setSingleShot(true);
    loss_grace_.setInterval(1000);
    connect(&loss_grace_, &QTimer::timeout, this, [this] { stop_if_lost_while_waiting(); });
    connect(w_->Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(w_->einde, &QAction::triggered, this, [this] { einde_Click(); });
}

// A row is picked with the mouse or the keys, or by typing its text and
// ending the edit (Return, or leaving the list); picking the selected row
// again is a pick too. Typing picks nothing on the way, so no exposure that
// begins meanwhile meets a row the user is only passing through ("Com1" on
// the way to "Com12"), nor when another window takes the focus meanwhile.
// Text that names no row is put back when editing ends.
void Form1::wire_picks(QComboBox* combo, std::function<void()> picked) {
    connect(combo, &QComboBox::activated, this, [picked] { picked(); });
    QLineEdit* edit = combo->lineEdit();
    // The list's own handling would pick a row for some texts only, and
    // without a word to us.
    QObject::disconnect(edit, SIGNAL(editingFinished()), combo, SLOT(_q_editingFinished()));
    connect(edit, &QLineEdit::editingFinished, this, [combo, picked] {
        QLineEdit* text = combo->lineEdit();
        const int row =
            text->isModified() ? combo->findText(text->text().trimmed(), Qt::MatchFixedString) : -1;
        text->setModified(false);
        if (row >= 0) {
            combo->setCurrentIndex(row);
        }
        // currentText() of an editable list is whatever was typed; the row's
        // own text is what has to come back.
        const QString shown = combo->itemText(combo->currentIndex());
        if (text->text() != shown) {
            text->setText(shown);
        }
        if (row >= 0) {
            picked();
        }
    });
}

void Form1::pick_port() {
    on_event([this] {
        comm_.renew_claims();
        directory_.fix(port_row());
        describe_port();
    });
}

// Ports came or went. While idle, a row that reaches nothing takes a device
// whose arrival has just put it at its place. During a run, the device the
// next exposure is to open may have left during the start delay or a pause:
// a second after the last change, whatever order the system made its
// changes in, the run stops if it is gone (a replugged adapter comes back
// under a new name within it), rather than when that exposure begins.
void Form1::ports_changed() {
    on_event([this] {
        if (running_) {
            loss_grace_.start();
        }
        directory_.ports_changed(port_row(), !running_);
        comm_.renew_claims();
        describe_port();
    });
}

void Form1::stop_if_lost_while_waiting() {
    on_event([this] {
        const auto row = static_cast<std::int16_t>(port_row());
        if (running_ && !comm_.port_open() && directory_.reach(row).missing) {
            comm_.device_at(row); // raises what is wrong with it
        }
    });
}

int Form1::port_row() const {
    return w_->cboPort->currentIndex() + 1;
}

void Form1::on_event(const std::function<void()>& handler) {
    if (ended_) {
        return;
    }
    const std::exception_ptr failure = pump_.run_handler([this, &handler] {
        try {
            handler();
        } catch (const ProgramEnd&) {
            ended_ = true;
            throw;
        }
    });
    if (failure) {
        handle_outer_failure(failure);
    }
}

void Form1::handle_outer_failure(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const ProgramEnd& end) {
        if (!end.report.empty()) {
            routines_->release_port();
            report(QString::fromStdString(end.report));
        }
        QCoreApplication::exit(end.report.empty() ? 0 : 1);
    } catch (const RunTimeError& error) {
        routines_->release_port();
        report(QString::fromStdString(error.what()));
    } catch (...) {
        routines_->release_port();
        report(QStringLiteral("Nocturo met a problem it did not expect. The shutter line has "
                              "been released."));
    }
}

void Form1::report(const QString& message) {
    if (report_) {
        report_(this, message);
    } else {
        message_box(this, message)->exec();
    }
}

void Form1::Form_Load() {
    bool loaded = false;
    on_event([this, &loaded] {
        routines_->Form_Load();
        loaded = true;
    });
    if (!loaded) {
        ended_ = true; // a window that could not load is not shown
    }
}
void Form1::kiestijd_Click() {
    on_event([this] { routines_->kiestijd_Click(); });
}
void Form1::Combo1_Click() {
    on_event([this] { routines_->Combo1_Click(); });
}
void Form1::Combo2_Click() {
    on_event([this] { routines_->Combo2_Click(); });
}
void Form1::Combo3_Click() {
    on_event([this] { routines_->Combo3_Click(); });
}
void Form1::einde_Click() {
    on_event([this] { routines_->einde_Click(); });
}

void Form1::Command1_Click() {
    on_event([this] {
        SleepInhibitor::Hold awake(inhibitor_);
        running_ = true;
        struct Finish {
            Form1& form;
            ~Finish() { form.end_run(); }
        } finish{*this};
        comm_.begin_run();
        routines_->run_series([this](const RunTimeError& error) {
            // The run is over: nothing about it raises a second message
            // while this one is open. The message may wait all night for
            // someone to read it; the computer may sleep meanwhile.
            end_run();
            inhibitor_.release();
            report(QString::fromStdString(error.what()));
        });
    });
}

void Form1::end_run() {
    running_ = false;
    loss_grace_.stop();
}

void Form1::closeEvent(QCloseEvent* event) {
    if (!running_) {
        event->accept();
        return;
    }
    // Closing the window in the middle of a run is End: the port is closed
    // first, then the program ends.
    event->ignore();
    einde_Click();
}

// The window's own exposure tells whether it can be seen: not while it is
// minimised or unmapped, nor while the system hides the whole program.
void Form1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    darken_title_bar(this);
    if (QWindow* window = windowHandle()) {
        window->removeEventFilter(this); // once, however often it is shown
        window->installEventFilter(this);
    }
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    // Seen before the window paints what it exposes: the status lines are
    // brought up to date first.
    if (event->type() == QEvent::Expose && watched == windowHandle()) {
        note_visibility();
    }
    return QMainWindow::eventFilter(watched, event);
}

void Form1::note_visibility() {
    const Qt::ApplicationState state = QGuiApplication::applicationState();
    const QWindow* window = windowHandle();
    pump_.set_shown(window != nullptr && window->isExposed() && state != Qt::ApplicationHidden &&
                    state != Qt::ApplicationSuspended);
}

QString Form1::port_tooltip() {
    QString text;
    on_event([this, &text] {
        directory_.refresh(); // the user looks: what the system has now
        text = QString::fromStdString(directory_.describe(port_row()));
    });
    return text;
}

void Form1::describe_port() {
    w_->cboPort->setAccessibleDescription(QString::fromStdString(directory_.describe(port_row())));
}

} // namespace nocturo
