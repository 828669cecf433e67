#pragma once

// The controls of the platform interface on Qt widgets. Each adapter holds a
// widget owned by its Qt parent.

#include "platform/controls.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace nocturo {

class QtLabel : public Label {
public:
    explicit QtLabel(QLabel* label) : label_(label) {}
    void set_caption(const std::string& text) override;

private:
    QLabel* label_;
};

class QtList : public ListControl {
public:
    explicit QtList(QComboBox* combo) : combo_(combo) {}
    void add_item(const std::string& text) override;
    std::int16_t list_index() const override;
    void set_list_index(std::int16_t index) override;

private:
    QComboBox* combo_;
};

class QtButton : public Button {
public:
    explicit QtButton(QPushButton* button) : button_(button) {}
    void set_enabled(bool enabled) override;

private:
    QPushButton* button_;
};

// Min, Max and Value are singles here and whole numbers in the widget; a
// Value outside Min..Max shows an empty or a full bar.
class QtProgressBar : public ProgressBar {
public:
    explicit QtProgressBar(QProgressBar* bar);
    void set_visible(bool visible) override;
    void set_min(float min) override;
    float min() const override { return min_; }
    void set_max(float max) override;
    void set_value(float value) override;
    // The property with dispatch identifier 7 changes nothing in this bar's look.
    void set_property7(std::int32_t) override {}

private:
    void show();

    QProgressBar* bar_;
    float min_ = 0.0f;
    float max_ = 100.0f;
    float value_ = 0.0f;
};

} // namespace nocturo
