#include "platform/qt/qt_controls.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <cmath>

namespace nocturo {

void QtLabel::set_caption(const std::string& text) {
    // QLabel repaints only when the text differs, so the waits may write the
    // same line many times a second at no cost.
    label_->setText(QString::fromStdString(text));
}

void QtList::add_item(const std::string& text) {
    combo_->addItem(QString::fromStdString(text));
}

std::int16_t QtList::list_index() const {
    return static_cast<std::int16_t>(combo_->currentIndex());
}

void QtList::set_list_index(std::int16_t index) {
    combo_->setCurrentIndex(index);
}

// A button disabled while it has the focus hands it on to the next control
// in the Tab order, a list here, where the wheel and the keys would then
// change a setting the user never touched. The window keeps the focus
// instead, and gives it back when the button is enabled again.
void QtButton::set_enabled(bool enabled) {
    QWidget* window = button_->window();
    if (!enabled && window->focusWidget() == button_) {
        window->setFocus(Qt::OtherFocusReason);
    }
    button_->setEnabled(enabled);
    if (enabled && window->focusWidget() == window) {
        button_->setFocus(Qt::OtherFocusReason);
    }
}

QtProgressBar::QtProgressBar(QProgressBar* bar) : bar_(bar) {
    min_ = static_cast<float>(bar_->minimum());
    max_ = static_cast<float>(bar_->maximum());
    value_ = min_;
}

void QtProgressBar::set_visible(bool visible) {
    bar_->setVisible(visible);
}

void QtProgressBar::set_min(float min) {
    min_ = min;
    show();
}

void QtProgressBar::set_max(float max) {
    max_ = max;
    show();
}

void QtProgressBar::set_value(float value) {
    value_ = value;
    show();
}

void QtProgressBar::show() {
    const int low = static_cast<int>(std::lround(min_));
    const int high = std::max(low, static_cast<int>(std::lround(max_)));
    const float shown = std::isnan(value_) ? min_ : std::clamp(value_, min_, std::max(min_, max_));
    // QProgressBar ignores a value outside its range; the clamp keeps every
    // value inside it.
    const int value = std::clamp(static_cast<int>(std::lround(shown)), low, high);
    if (bar_->minimum() == low && bar_->maximum() == high && bar_->value() == value) {
        return; // the waits write every pass; only a change is worth a paint
    }
    // QProgressBar repaints at once, inside setValue, whenever the bar grows
    // visibly; in the middle of a wait that would hold up the end test and
    // the release of the shutter. With updates off for the moment, the new
    // value is painted at the next pass of the event pump instead.
    bar_->setUpdatesEnabled(false);
    bar_->setRange(low, high);
    bar_->setValue(value);
    bar_->setUpdatesEnabled(true);
}

} // namespace nocturo
