#pragma once

// How everything Nocturo shows looks: orange on dark red, so that a glance
// at the screen at night spares the eyes' adaptation to the dark. The whole
// program takes the window's colours, so that nothing it shows (the menu
// bar, a message box, a tooltip, a list's drop-down or its text field's
// menu) is drawn in the platform's light colours. The START button keeps
// the platform's button-text colour on the window's back colour.

#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>

#include <memory>

class QApplication;

namespace nocturo {

// The style and colours of the whole program, the same on every system.
void apply_application_style(QApplication& app);

// The face of the layout: bold, at a size in pixels (8.25 pt, 13.5 pt and
// 18 pt at 96 dpi are 11, 18 and 24).
QFont sans_bold(int pixel_size);

// The window's client area, and the START button within it.
void colour_client(QWidget* client);
void colour_start(QWidget* start);

// Where the system offers it (Windows 10 and later), the window's title bar
// in the window's dark red rather than the system's light colours.
void darken_title_bar(QWidget* window);

// A message in a box of the window's colours, with an orange mark for the
// platform's red-and-white icon; shown with exec().
std::unique_ptr<QMessageBox> message_box(QWidget* parent, const QString& text);

// A list's text field, whose cursor is an orange line.
class TextField : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A captioned group box drawn the same on every system: a single line with
// the caption standing in its top border at the left.
class Frame : public QGroupBox {
public:
    Frame(const QString& caption, QWidget* parent) : QGroupBox(caption, parent) {}

protected:
    void paintEvent(QPaintEvent*) override;
};

// A progress bar drawn as two plain fills, the same on every system. The
// style's own bar is drawn in stripes that Qt rasterises on a pool of
// threads, which wakes two more threads at every step of the bar.
class Bar : public QProgressBar {
public:
    using QProgressBar::QProgressBar;

protected:
    void paintEvent(QPaintEvent*) override;
};

} // namespace nocturo
