#include "fakes/fixed_ports.h"
#include "platform/qt/qt_controls.h"
#include "window/form1.h"
#include "window/look.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QToolTip>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace nocturo {
namespace {

using fakes::FixedPorts;

struct Window {
    explicit Window(std::vector<PortInfo> rows = {}) {
        Form1::Options options;
        options.ports = std::make_unique<FixedPorts>(std::move(rows));
        options.report = [this](QWidget*, const QString& message) { reports << message; };
        form = std::make_unique<Form1>(std::move(options));
    }
    template <typename T> T* get(const char* name) const {
        T* widget = form->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    // Shown, and the window the user works in, as a list's focus needs.
    bool shown_active() const {
        form->show();
        form->activateWindow();
        return QTest::qWaitForWindowActive(form.get());
    }
    QStringList reports;
    std::unique_ptr<Form1> form;
};

struct Placement {
    const char* name;
    const char* container;
    QRect pixels;
};

// Twips / 15, to the nearest pixel.
const Placement kLayout[] = {
    {"Frame1", "client", {40, 16, 89, 49}},      {"cboPort", "client", {48, 32, 73, 21}},
    {"Frame5", "client", {176, 16, 105, 49}},    {"Combo1", "Frame5", {16, 16, 81, 21}},
    {"Frame3", "client", {320, 16, 89, 49}},     {"Combo2", "Frame3", {8, 16, 65, 21}},
    {"Frame2", "client", {72, 88, 113, 49}},     {"kiestijd", "client", {88, 104, 81, 21}},
    {"Frame4", "client", {240, 88, 129, 49}},    {"Combo3", "Frame4", {16, 16, 97, 21}},
    {"Command1", "client", {152, 152, 137, 45}}, {"Frame6", "client", {16, 208, 417, 145}},
    {"Label3", "Frame6", {8, 24, 161, 25}},      {"Label5", "Frame6", {224, 28, 161, 25}},
    {"Label2", "Frame6", {8, 56, 177, 17}},      {"Bar1", "client", {24, 280, 401, 17}},
    {"Label1", "Frame6", {8, 104, 201, 25}},     {"Label4", "Frame6", {216, 104, 193, 25}},
    {"Bar2", "Frame6", {8, 120, 401, 17}},
};

TEST(Form1Window, EveryControlSitsInItsContainerAtItsPlaceInPixels) {
    Window w;
    EXPECT_EQ(w.form->centralWidget()->size(), QSize(450, 366)) << "6750 x 5490 twips";
    for (const Placement& p : kLayout) {
        QWidget* widget = w.get<QWidget>(p.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->parentWidget()->objectName(), QString::fromLatin1(p.container)) << p.name;
        EXPECT_EQ(widget->geometry(), p.pixels) << p.name;
    }
}

TEST(Form1Window, ControlsOwnedByTheWindowLieAboveTheFramesAndBar2AboveItsLabels) {
    Window w;
    auto stacked_above = [](QWidget* upper, QWidget* lower) {
        const QObjectList& siblings = upper->parentWidget()->children();
        return siblings.indexOf(upper) > siblings.indexOf(lower);
    };
    EXPECT_TRUE(stacked_above(w.get<QWidget>("cboPort"), w.get<QWidget>("Frame1")));
    EXPECT_TRUE(stacked_above(w.get<QWidget>("kiestijd"), w.get<QWidget>("Frame2")));
    EXPECT_TRUE(stacked_above(w.get<QWidget>("Bar1"), w.get<QWidget>("Frame6")));
    EXPECT_TRUE(stacked_above(w.get<QWidget>("Bar2"), w.get<QWidget>("Label1")));
    EXPECT_TRUE(stacked_above(w.get<QWidget>("Bar2"), w.get<QWidget>("Label4")));
}

TEST(Form1Window, OpensWithEveryTextExactlyAsLaidOut) {
    Window w;
    EXPECT_EQ(w.form->windowTitle(), QStringLiteral("Nocturo"));
    const std::pair<const char*, const char*> frames[] = {
        {"Frame1", "  Com port"},     {"Frame5", " Start Delay"},       {"Frame3", "  No Exp."},
        {"Frame2", " Exposure Time"}, {"Frame4", "Sec's between Exp."}, {"Frame6", "Information"}};
    for (const auto& [name, title] : frames) {
        EXPECT_EQ(w.get<QGroupBox>(name)->title(), QString::fromLatin1(title)) << name;
    }
    const std::pair<const char*, const char*> lists[] = {{"cboPort", "Com1"},
                                                         {"kiestijd", "5 Sec."},
                                                         {"Combo1", "3 Sec."},
                                                         {"Combo2", "2 x"},
                                                         {"Combo3", "3 Sec."}};
    for (const auto& [name, row] : lists) {
        auto* combo = w.get<QComboBox>(name);
        EXPECT_EQ(combo->currentText(), QString::fromLatin1(row)) << name;
        EXPECT_EQ(combo->lineEdit()->text(), QString::fromLatin1(row)) << name;
        EXPECT_TRUE(combo->isEditable()) << name;
    }
    const std::pair<const char*, const char*> labels[] = {{"Label3", "Exposures Remaining: 0"},
                                                          {"Label5", "         Idle"},
                                                          {"Label2", "Current Exposure Time: 0"},
                                                          {"Label1", "Total Time:  16 Seconds"},
                                                          {"Label4", "Time remaining: 0 Seconds"}};
    for (const auto& [name, text] : labels) {
        EXPECT_EQ(w.get<QLabel>(name)->text(), QString::fromLatin1(text)) << name;
    }
    EXPECT_EQ(w.get<QPushButton>("Command1")->text(), QStringLiteral("START"));

    const QList<QAction*> menu = w.form->menuBar()->actions();
    ASSERT_EQ(menu.size(), 1);
    EXPECT_EQ(menu.front()->text(), QStringLiteral("End"));
    EXPECT_EQ(menu.front()->menu(), nullptr);
}

TEST(Form1Window, OpensIdleWithTheExposureBarHiddenAndTheRunBarEmpty) {
    Window w;
    w.form->show();
    EXPECT_FALSE(w.get<QProgressBar>("Bar1")->isVisible());
    auto* bar2 = w.get<QProgressBar>("Bar2");
    EXPECT_TRUE(bar2->isVisible());
    EXPECT_EQ(bar2->minimum(), 0);
    EXPECT_EQ(bar2->maximum(), 1000);
    EXPECT_EQ(bar2->value(), 0);
    EXPECT_TRUE(w.get<QPushButton>("Command1")->isEnabled());
    EXPECT_FALSE(w.form->running());
}

TEST(Form1Window, UsesOrangeOnDarkRedAndBoldFacesAtTheirPixelSizes) {
    Window w;
    for (const char* name : {"Label1", "Label3", "Frame6", "Combo2"}) {
        auto* widget = w.get<QWidget>(name);
        EXPECT_EQ(widget->palette().color(widget->backgroundRole()), QColor(128, 0, 0)) << name;
        EXPECT_EQ(widget->palette().color(widget->foregroundRole()), QColor(255, 128, 0)) << name;
        EXPECT_EQ(widget->font().pixelSize(), 11) << name;
        EXPECT_TRUE(widget->font().bold()) << name;
    }
    EXPECT_EQ(w.get<QWidget>("Label5")->font().pixelSize(), 18);
    EXPECT_EQ(w.get<QWidget>("Command1")->font().pixelSize(), 24);
    EXPECT_TRUE(w.get<QWidget>("Command1")->font().bold());
}

// Pixels a dark-adapted eye meets as white light: anything but red to orange.
int not_red_to_orange(const QPixmap& surface) {
    const QImage image = surface.toImage();
    int bright = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            bright += c.blue() > 0x20 || c.green() > c.red() / 2 + 0x10 ? 1 : 0;
        }
    }
    return bright;
}

TEST(Form1Window, ShowsEverySurfaceInRedToOrange) {
    Window w;
    ASSERT_TRUE(w.shown_active());
    auto* start = w.get<QPushButton>("Command1");
    auto* times = w.get<QComboBox>("kiestijd"); // sixty rows: its drop-down has a scroll bar
    std::vector<std::pair<const char*, std::function<QPixmap()>>> surfaces = {
        {"the idle window", [&] { return w.form->grab(); }},
        {"START pressed", [&] { return start->setDown(true), start->grab(); }},
        {"the window running",
         [&] {
             start->setEnabled(false);
             w.get<QProgressBar>("Bar1")->show();
             return w.get<QProgressBar>("Bar1")->setValue(50), w.form->grab();
         }},
        {"End highlighted",
         [&] {
             w.form->menuBar()->setActiveAction(w.form->menuBar()->actions().front());
             return w.form->menuBar()->grab();
         }},
        {"a message",
         [&] {
             const auto box = message_box(w.form.get(), QStringLiteral("Com2 is not connected."));
             return box->show(), box->grab();
         }},
        {"the tooltip",
         [&] {
             QToolTip::showText(times->mapToGlobal(QPoint(5, 5)), w.form->port_tooltip(), times);
             QPixmap shown;
             for (QWidget* top : QApplication::topLevelWidgets()) {
                 shown = top->inherits("QTipLabel") && top->isVisible() ? top->grab() : shown;
             }
             return shown;
         }},
        {"a drop-down", [&] { return times->showPopup(), times->view()->window()->grab(); }},
        {"a text field's menu", [&] {
             std::unique_ptr<QMenu> menu(times->lineEdit()->createStandardContextMenu());
             return menu->grab();
         }}};
    for (const auto& [name, surface] : surfaces) {
        const QPixmap pixels = surface();
        ASSERT_FALSE(pixels.isNull()) << name;
        EXPECT_EQ(not_red_to_orange(pixels), 0)
            << name << ", of " << pixels.width() * pixels.height() << " pixels";
    }
}

TEST(Form1Window, CannotBeResizedOrMaximisedAndCarriesItsIcon) {
    Window w;
    w.form->show();
    EXPECT_EQ(w.form->minimumSize(), w.form->maximumSize());
    EXPECT_FALSE(w.form->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    const QList<QSize> sizes = w.form->windowIcon().availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
    const QImage icon = w.form->windowIcon().pixmap(32, 32).toImage();
    QSet<QRgb> colours;
    for (int y = 0; y < icon.height(); ++y) {
        for (int x = 0; x < icon.width(); ++x) {
            colours.insert(icon.pixel(x, y));
        }
    }
    EXPECT_LE(colours.size(), 16);
}

bool has_focus(QWidget* widget) {
    QWidget* focus = QApplication::focusWidget();
    return focus != nullptr && (focus == widget || focus->parentWidget() == widget);
}

TEST(Form1Window, StartHoldsTheFocusAndTabWalksTheListsInOrder) {
    Window w;
    ASSERT_TRUE(w.shown_active());
    EXPECT_TRUE(has_focus(w.get<QWidget>("Command1")));

    for (const char* next : {"cboPort", "kiestijd", "Combo1", "Combo2", "Combo3", "Command1"}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_TRUE(has_focus(w.get<QWidget>(next)))
            << next << " expected, focus on "
            << QApplication::focusWidget()->objectName().toStdString();
    }
}

TEST(Form1Window, EndWhileIdleHidesAndEndsWithoutTouchingAnyPort) {
    Window w(std::vector<PortInfo>{{"/nonexistent/port", ""}});
    w.form->show();
    w.form->menuBar()->actions().front()->trigger();
    EXPECT_TRUE(w.form->ended());
    EXPECT_FALSE(w.form->isVisible());
    EXPECT_TRUE(w.reports.isEmpty()) << "opening the port would have failed";
}

struct TypingCase {
    const char* name;
    const char* list;
    int from;         // the row picked before
    int cursor;       // where typing begins; -1: over the whole text
    const char* keys; // '\b' deletes the character before the cursor
    bool leave;       // editing ends by leaving the list, not by Return
    int to;           // the row picked once editing ends
    enum Focus { Tab, None, Accessibility } focus = Tab; // None: START keeps it
    // In keys '\x1' is a wheel step down, '\x2' another window taking the
    // focus and giving it back.
};

class TypedIntoAList : public testing::TestWithParam<TypingCase> {};

// Rows the text names on the way ("Com1" on the way to "Com12", "10 Sec."
// on the way from "180 Sec." to "120 Sec.") are not picked.
TEST_P(TypedIntoAList, PicksOnlyTheRowItNamesWhenEditingEndsAndThePlanFollows) {
    const TypingCase& c = GetParam();
    Window w;
    ASSERT_TRUE(w.shown_active());
    auto* list = w.get<QComboBox>(c.list);
    list->setCurrentIndex(c.from);
    if (c.focus == TypingCase::Tab) {
        list->setFocus(Qt::TabFocusReason);
    } else if (c.focus == TypingCase::Accessibility) { // as a screen reader or switch access does
        QAccessibleInterface* field = QAccessible::queryAccessibleInterface(list->lineEdit());
        field->actionInterface()->doAction(QAccessibleActionInterface::setFocusAction());
    }
    QWidget other;
    c.cursor < 0 ? list->lineEdit()->selectAll() : list->lineEdit()->setCursorPosition(c.cursor);
    for (const char* key = c.keys; *key != '\0'; ++key) {
        if (*key == '\x1') {
            QWheelEvent step({5, 5}, list->mapToGlobal(QPointF(5, 5)), {}, {0, -120}, {}, {},
                             Qt::NoScrollPhase, false);
            QApplication::sendEvent(list, &step); // as the line edit passes it on
            continue;
        }
        if (*key == '\x2') {
            other.show();
            other.activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
            ASSERT_TRUE(w.shown_active());
        } else {
            *key == '\b' ? QTest::keyClick(list->lineEdit(), Qt::Key_Backspace)
                         : QTest::keyClick(list->lineEdit(), *key);
        }
        EXPECT_EQ(list->currentIndex(), c.from) << list->lineEdit()->text().toStdString();
    }
    c.leave ? w.get<QPushButton>("Command1")->setFocus()
            : QTest::keyClick(list->lineEdit(), Qt::Key_Return);

    EXPECT_EQ(list->currentIndex(), c.to);
    EXPECT_EQ(list->lineEdit()->text(), list->itemText(c.to));
    const QString picked = w.get<QLabel>("Label1")->text();
    w.form->Combo1_Click(); // the plan for the rows selected now
    EXPECT_EQ(w.get<QLabel>("Label1")->text(), picked);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, TypedIntoAList,
    testing::Values(TypingCase{"start_delay_in_any_case", "Combo1", 2, -1, "10 sec.", false, 9},
                    TypingCase{"com12_passes_com1", "cboPort", 0, -1, "Com12", false, 11},
                    TypingCase{"backspacing_out_of_com13", "cboPort", 12, 5, "\b2", false, 11},
                    TypingCase{"com17_names_no_row", "cboPort", 2, -1, "Com17", true, 2},
                    TypingCase{"120_passes_10", "kiestijd", 35, 2, "\b2", true, 23},
                    // A pointer resting on a list, or a touchpad brushed on the way past.
                    TypingCase{"wheel_over_a_list", "kiestijd", 0, -1, "\x1\x1\x1", false, 0,
                               TypingCase::None},
                    TypingCase{"another_window_on_the_way", "cboPort", 2, -1,
                               "Com1\x2"
                               "2",
                               false, 11},
                    TypingCase{"focus_from_a_screen_reader", "kiestijd", 0, -1, "60 Sec.", false,
                               11, TypingCase::Accessibility},
                    TypingCase{"wheel_on_the_list_in_use", "kiestijd", 0, -1, "\x1", true, 1}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(Form1Window, OtherTypedTextIsPutBackToTheSelectedRowWhenEditingEnds) {
    Window w;
    ASSERT_TRUE(w.shown_active());
    auto* combo2 = w.get<QComboBox>("Combo2");
    combo2->setFocus(Qt::TabFocusReason);
    combo2->lineEdit()->selectAll();
    QTest::keyClicks(combo2->lineEdit(), QStringLiteral("99 x"));
    EXPECT_EQ(combo2->currentIndex(), 1);
    QTest::keyClick(combo2->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(combo2->currentIndex(), 1);
    EXPECT_EQ(combo2->lineEdit()->text(), QStringLiteral("2 x"));
    EXPECT_EQ(combo2->count(), 25);
    EXPECT_EQ(w.get<QLabel>("Label1")->text(), QStringLiteral("Total Time:  16 Seconds"));
}

TEST(Form1Window, PortListTooltipNamesTheDeviceTheSelectedRowReaches) {
    Window w({{"/dev/ttyUSB0", "FT232R USB UART"}, {"/dev/ttyACM0", ""}});
    auto* ports = w.get<QComboBox>("cboPort");
    // A screen reader gets the same text from the list without hovering.
    EXPECT_EQ(ports->accessibleDescription(),
              QStringLiteral("Com1: /dev/ttyUSB0, FT232R USB UART"));
    EXPECT_EQ(w.form->port_tooltip(), QStringLiteral("Com1: /dev/ttyUSB0, FT232R USB UART"));
    ports->setCurrentIndex(1);
    EXPECT_EQ(ports->accessibleDescription(), QStringLiteral("Com2: /dev/ttyACM0"));
    ports->setCurrentIndex(2);
    EXPECT_EQ(ports->accessibleDescription(),
              QStringLiteral("Com3: no serial port has that number now"));
}

QStringList label_texts(const Window& w) {
    QStringList texts;
    for (const char* name : {"Label1", "Label2", "Label3", "Label4", "Label5"}) {
        texts << w.get<QLabel>(name)->text();
    }
    return texts;
}

struct PickCase {
    const char* list;
    const char* total; // Label1 once the next row down is picked; empty: unchanged
};

class PickedByKeyboard : public testing::TestWithParam<PickCase> {};

// The row below the default is picked with the arrow key on the list itself,
// as a user does, and the plan follows through the list's own signal.
TEST_P(PickedByKeyboard, TheNextRowDownIsTakenAndTheTotalTimeFollows) {
    Window w;
    ASSERT_TRUE(w.shown_active());
    auto* list = w.get<QComboBox>(GetParam().list);
    const int before = list->currentIndex();
    const QStringList labels = label_texts(w);
    list->setFocus(Qt::TabFocusReason);
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(list->currentIndex(), before + 1);

    QStringList expected = labels;
    if (*GetParam().total != '\0') {
        expected[0] = QString::fromLatin1(GetParam().total);
    }
    EXPECT_EQ(label_texts(w), expected);
    EXPECT_TRUE(w.reports.isEmpty()) << "picking a port opens nothing";
}

INSTANTIATE_TEST_SUITE_P(Lists, PickedByKeyboard,
                         testing::Values(PickCase{"kiestijd", "Total Time:  26 Seconds"},
                                         PickCase{"Combo1", "Total Time:  17 Seconds"},
                                         PickCase{"Combo2", "Total Time:  24 Seconds"},
                                         PickCase{"Combo3", "Total Time:  17 Seconds"},
                                         PickCase{"cboPort", ""}),
                         [](const auto& p) { return std::string(p.param.list); });

// Whatever is typed or pasted into a list, a row stays selected, the text
// field ends showing it and the plan stays the one for the rows selected.
TEST(Form1Window, NoTypedTextLeavesAListWithoutARowOrThePlanOutOfStep) {
    const QString inputs[] = {QString(),
                              QStringLiteral("   "),
                              QStringLiteral("0"),
                              QStringLiteral("-1"),
                              QStringLiteral("99999"),
                              QStringLiteral("5 sec"),
                              QStringLiteral("5 Sec. "),
                              QStringLiteral("Com17"),
                              QString(1000, QLatin1Char('7')),
                              QStringLiteral("5 Sek. \u00fc\u00df \u6642\u9593"),
                              QStringLiteral("10 Sec.\n3 x")};
    Window w;
    ASSERT_TRUE(w.shown_active());
    for (const char* name : {"cboPort", "kiestijd", "Combo1", "Combo2", "Combo3"}) {
        auto* list = w.get<QComboBox>(name);
        const int rows = list->count();
        for (const QString& input : inputs) {
            SCOPED_TRACE(std::string(name) + " <- \"" + input.left(20).toStdString() + "\"");
            list->setFocus(Qt::TabFocusReason);
            list->lineEdit()->selectAll();
            const bool typable = std::all_of(input.begin(), input.end(), [](QChar c) {
                return c.unicode() >= 0x20 && c.unicode() < 0x7f;
            });
            if (!typable) { // keys exist for printable ASCII only
                QGuiApplication::clipboard()->setText(input);
                QTest::keySequence(list->lineEdit(), QKeySequence::Paste);
            } else if (input.isEmpty()) {
                QTest::keyClick(list->lineEdit(), Qt::Key_Delete);
            } else {
                QTest::keyClicks(list->lineEdit(), input);
            }
            QTest::keyClick(list->lineEdit(), Qt::Key_Return);
            w.get<QPushButton>("Command1")->setFocus(); // editing ends

            ASSERT_GE(list->currentIndex(), 0);
            EXPECT_EQ(list->lineEdit()->text(), list->itemText(list->currentIndex()));
            EXPECT_EQ(list->count(), rows) << "typing never adds a row";
            const QString total = w.get<QLabel>("Label1")->text();
            w.form->Combo1_Click(); // the plan for the rows selected now
            EXPECT_EQ(w.get<QLabel>("Label1")->text(), total);
        }
    }
}

TEST(Form1Window, ListsButtonAndBarsCarryAccessibleNamesAndLabelsTheirText) {
    Window w;
    w.form->show();
    const std::pair<const char*, const char*> names[] = {
        {"cboPort", "Com port"},       {"kiestijd", "Exposure Time"},    {"Combo1", "Start Delay"},
        {"Combo2", "No Exp."},         {"Combo3", "Sec's between Exp."}, {"Command1", "START"},
        {"Bar1", "Exposure progress"}, {"Bar2", "Run progress"}};
    for (const auto& [object, name] : names) {
        EXPECT_EQ(w.get<QWidget>(object)->accessibleName(), QString::fromLatin1(name)) << object;
    }
    // Qt reports an editable list's value as its name on Linux; the button
    // and the bars report theirs everywhere.
    for (const char* object : {"Command1", "Bar1", "Bar2"}) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w.get<QWidget>(object));
        ASSERT_NE(a, nullptr) << object;
        EXPECT_EQ(a->text(QAccessible::Name), w.get<QWidget>(object)->accessibleName()) << object;
    }
    QAccessibleInterface* label = QAccessible::queryAccessibleInterface(w.get<QWidget>("Label5"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(QAccessible::Name), QStringLiteral("         Idle"));
}

TEST(ProgressBarOnQt, ValuesOutsideTheRangeShowAnEmptyOrAFullBar) {
    QProgressBar widget;
    QtProgressBar bar(&widget);
    bar.set_min(0.0f);
    bar.set_max(1000.0f);
    bar.set_value(1250.0f);
    EXPECT_EQ(widget.value(), 1000);
    bar.set_value(-3.0f);
    EXPECT_EQ(widget.value(), 0);
    bar.set_value(std::nanf(""));
    EXPECT_EQ(widget.value(), 0);
    bar.set_value(33.333332f);
    EXPECT_EQ(widget.value(), 33);
}

TEST(Form1Window, ScreenshotForTheReadme) {
    Window w;
    w.form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.form.get()));
    const QString path = QStringLiteral(NOCTURO_SCREENSHOT);
    EXPECT_TRUE(w.form->grab().save(path)) << path.toStdString();
    const auto box =
        message_box(w.form.get(), QStringLiteral("Com2 is not connected: no serial port "
                                                 "has that number now."));
    box->show();
    EXPECT_TRUE(box->grab().save(
        QString(path).replace(QStringLiteral("window"), QStringLiteral("message"))));
}

} // namespace
} // namespace nocturo
