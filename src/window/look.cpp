#include "window/look.h"

#include <QApplication>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>
#include <QToolTip>

#ifdef _WIN32
#include <windows.h>

#include <dwmapi.h>
#endif

namespace nocturo {
namespace {

const QColor kDarkRed(128, 0, 0);
const QColor kOrange(255, 128, 0);
const QColor kBorder(200, 80, 0); // the frames' and the bars' outline
const QColor kDim(176, 64, 0);    // what cannot be used now: a disabled START's caption
// Selections and the focus frame. Fusion draws the focus frame in this
// colour darkened by a fifth, and any result brighter than 160 as a pale
// orange: 200 keeps it deep.
const QColor kSelection(200, 100, 0);

// The platform's own button-text colour, as it was before the program took
// its colours.
QColor g_button_text = Qt::black;

QPalette night_palette() {
    QPalette palette;
    for (const QPalette::ColorRole role :
         {QPalette::Window, QPalette::Base, QPalette::AlternateBase, QPalette::Button,
          QPalette::ToolTipBase, QPalette::HighlightedText}) {
        palette.setColor(role, kDarkRed);
    }
    for (const QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::ToolTipText,
          QPalette::BrightText, QPalette::Link, QPalette::LinkVisited}) {
        palette.setColor(role, kOrange);
    }
    for (const QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::PlaceholderText}) {
        palette.setColor(QPalette::Disabled, role, kDim);
    }
    palette.setColor(QPalette::Highlight, kSelection);
    palette.setColor(QPalette::PlaceholderText, kDim);
    // The shades Fusion draws its bevels and frames in.
    palette.setColor(QPalette::Light, QColor(168, 40, 0));
    palette.setColor(QPalette::Midlight, QColor(148, 20, 0));
    palette.setColor(QPalette::Mid, QColor(104, 0, 0));
    palette.setColor(QPalette::Dark, QColor(80, 0, 0));
    palette.setColor(QPalette::Shadow, QColor(48, 0, 0));
    return palette;
}

// An orange ring with an exclamation mark, in place of the platform's
// message icon.
QPixmap orange_mark() {
    QPixmap mark(32, 32);
    mark.fill(Qt::transparent);
    QPainter painter(&mark);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(kOrange, 3));
    painter.drawEllipse(QRectF(2.5, 2.5, 27, 27));
    painter.setBrush(kOrange);
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(14.5, 7.5, 3, 12), 1.5, 1.5);
    painter.drawEllipse(QRectF(14.5, 21.5, 3, 3));
    return mark;
}

// Fusion, with its buttons' faces and scroll bars drawn flat in the
// palette's own reds: Fusion lightens and pales a button's colour, which
// turns dark red pink.
class NightStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        if (element != PE_PanelButtonCommand) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        const bool pressed = (option->state & (State_Sunken | State_On)) != 0;
        const bool enabled = (option->state & State_Enabled) != 0;
        const bool lit = enabled && (option->state & (State_HasFocus | State_MouseOver)) != 0;
        painter->fillRect(option->rect,
                          option->palette.color(pressed ? QPalette::Dark : QPalette::Button));
        painter->setPen(QPen(lit || pressed ? kOrange : enabled ? kBorder : kDim, lit ? 2 : 1));
        painter->drawRect(
            QRectF(option->rect)
                .adjusted(lit ? 1 : 0.5, lit ? 1 : 0.5, lit ? -1 : -0.5, lit ? -1 : -0.5));
    }

    // Text fields draw their own cursor: Qt draws it as the inverse of what
    // lies under it, a cyan line on dark red.
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        return metric == PM_TextCursorWidth ? 0 : QProxyStyle::pixelMetric(metric, option, widget);
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override {
        if (control != CC_ScrollBar) {
            QProxyStyle::drawComplexControl(control, option, painter, widget);
            return;
        }
        const bool across = (option->state & State_Horizontal) != 0;
        painter->fillRect(option->rect, option->palette.color(QPalette::Dark));
        const QRect slider = subControlRect(control, option, SC_ScrollBarSlider, widget);
        painter->fillRect(slider, option->palette.color(QPalette::Button));
        painter->setPen(kBorder);
        painter->drawRect(slider.adjusted(0, 0, -1, -1));
        for (const auto& [part, arrow] :
             {std::pair{SC_ScrollBarSubLine, across ? PE_IndicatorArrowLeft : PE_IndicatorArrowUp},
              std::pair{SC_ScrollBarAddLine,
                        across ? PE_IndicatorArrowRight : PE_IndicatorArrowDown}}) {
            QStyleOption end = *option;
            end.rect = subControlRect(control, option, part, widget);
            proxy()->drawPrimitive(arrow, &end, painter, widget);
        }
    }
};

} // namespace

void apply_application_style(QApplication& app) {
    app.setStyle(new NightStyle(QStyleFactory::create(QStringLiteral("Fusion"))));
    g_button_text = QApplication::palette().color(QPalette::Active, QPalette::ButtonText);
    QApplication::setPalette(night_palette());
    QToolTip::setPalette(night_palette());
}

QFont sans_bold(int pixel_size) {
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Arial")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixel_size);
    font.setWeight(QFont::Bold);
    return font;
}

void colour_client(QWidget* client) {
    client->setAutoFillBackground(true);
    client->setPalette(night_palette());
}

// The window's back colour for the face; the caption in the platform's
// button-text colour while START can be pressed, and dim orange while not.
void colour_start(QWidget* start) {
    QPalette palette = night_palette();
    palette.setColor(QPalette::Active, QPalette::ButtonText, g_button_text);
    palette.setColor(QPalette::Inactive, QPalette::ButtonText, g_button_text);
    start->setPalette(palette);
}

void darken_title_bar([[maybe_unused]] QWidget* window) {
#ifdef _WIN32
    // By number: older SDK headers name neither. A system without them
    // refuses the call, and keeps its own title bar.
    const DWORD use_immersive_dark_mode = 20;
    const DWORD caption_color = 35;
    const DWORD text_color = 36;
    const auto handle = reinterpret_cast<HWND>(window->winId());
    const BOOL dark = TRUE;
    const COLORREF caption = RGB(kDarkRed.red(), kDarkRed.green(), kDarkRed.blue());
    const COLORREF text = RGB(kOrange.red(), kOrange.green(), kOrange.blue());
    DwmSetWindowAttribute(handle, use_immersive_dark_mode, &dark, sizeof dark);
    DwmSetWindowAttribute(handle, caption_color, &caption, sizeof caption);
    DwmSetWindowAttribute(handle, text_color, &text, sizeof text);
#endif
}

std::unique_ptr<QMessageBox> message_box(QWidget* parent, const QString& text) {
    auto box = std::make_unique<QMessageBox>(QMessageBox::NoIcon, QStringLiteral("Nocturo"), text,
                                             QMessageBox::Ok, parent);
    box->setIconPixmap(orange_mark());
    darken_title_bar(box.get());
    return box;
}

void TextField::paintEvent(QPaintEvent* event) {
    QLineEdit::paintEvent(event);
    if (hasFocus()) {
        const QRect at = cursorRect();
        QPainter(this).fillRect(QRect(at.center().x(), at.top(), 1, at.height()), kOrange);
    }
}

void Frame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const int middle = metrics.height() / 2;
    painter.fillRect(rect(), palette().color(QPalette::Window));
    painter.setPen(kBorder);
    painter.drawRect(QRect(0, middle, width() - 1, height() - middle - 1));
    const QRect caption(6, 0, metrics.horizontalAdvance(title()) + 2, metrics.height());
    painter.fillRect(caption, palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(caption.adjusted(1, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, title());
}

void Bar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(kBorder);
    painter.setBrush(palette().color(QPalette::Base));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    const int span = maximum() - minimum();
    const int filled = span <= 0 ? 0 : (width() - 2) * (value() - minimum()) / span;
    painter.fillRect(QRect(1, 1, filled, height() - 2), kOrange);
}

} // namespace nocturo
