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

void QtButton::set_enabled(bool enabled) {
    button_->setEnabled(enabled);
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
    bar_->setRange(low, high);
    const float shown = std::isnan(value_) ? min_ : std::clamp(value_, min_, std::max(min_, max_));
    // QProgressBar ignores a value outside its range; the clamp above keeps
    // every value inside it.
    bar_->setValue(std::clamp(static_cast<int>(std::lround(shown)), low, high));
}

} // namespace nocturo
