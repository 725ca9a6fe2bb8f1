#include "WaylandTitleBar.h"

#include <wayland-client.h>

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// WCAG's contrast ratio for normal text.
constexpr double kLeastContrast = 4.5;
constexpr int kGlyphPixels = 16;

double Luminance(const QColor& color)
{
    const auto channel = [](double c) {
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) +
           0.0722 * channel(color.blueF());
}

double Contrast(const QColor& a, const QColor& b)
{
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The background, darkened (or lightened, under dark text) until the text
// on it reads at kLeastContrast.
QColor ReadableBehind(QColor background, const QColor& text)
{
    const bool darken = Luminance(text) > Luminance(background);
    for (int step = 0; step < 40 && Contrast(background, text) < kLeastContrast; ++step) {
        background = darken ? background.darker(110) : background.lighter(110);
    }
    return background;
}

// Whether the compositor announces server-side decorations
// (zxdg_decoration_manager_v1), asked on a connection of our own.
bool CompositorDecorates()
{
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        return false;
    }
    bool announced = false;
    static const wl_registry_listener listener = {
        [](void* data, wl_registry*, uint32_t, const char* interface, uint32_t) {
            if (std::strcmp(interface, "zxdg_decoration_manager_v1") == 0) {
                *static_cast<bool*>(data) = true;
            }
        },
        [](void*, wl_registry*, uint32_t) {},
    };
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, &announced);
    wl_display_roundtrip(display);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return announced;
}

}  // namespace

bool WaylandTitleBar::Wanted()
{
    static const bool wanted =
        QGuiApplication::platformName().startsWith(QLatin1String("wayland")) &&
        !CompositorDecorates();
    return wanted;
}

WaylandTitleBar* WaylandTitleBar::Attach(QWidget* window, Buttons buttons)
{
    // The window's type alone: the toolkit drops the frameless hint beside
    // the hints for a decoration's parts.
    window->setWindowFlags(window->windowType() | Qt::FramelessWindowHint);
    const QMargins margins = window->contentsMargins();
    window->setContentsMargins(margins.left(), margins.top() + kHeight, margins.right(),
                               margins.bottom());
    return new WaylandTitleBar(window, buttons);
}

WaylandTitleBar::WaylandTitleBar(QWidget* window, Buttons buttons)
    : QWidget(window), m_title(new QLabel(this))
{
    setAttribute(Qt::WA_StyledBackground);
    // Every bar in the system's font, whatever the window's own is.
    setFont(QApplication::font());
    m_title->setText(window->windowTitle());
    m_title->setTextFormat(Qt::PlainText);
    auto* layout = new QHBoxLayout(this);
    // (the bottom row is the bar's edge line, which nothing covers)
    layout->setContentsMargins(6, 0, 2, 1);
    layout->setSpacing(2);
    layout->addWidget(m_title, 1);
    if (buttons == MinimizeAndClose) {
        QToolButton* minimize = AddButton(QStringLiteral("\u2013"), tr("Minimize"));
        connect(minimize, &QToolButton::clicked, window, &QWidget::showMinimized);
    }
    QToolButton* close = AddButton(QStringLiteral("\u00d7"), tr("Close"));
    connect(close, &QToolButton::clicked, window, &QWidget::close);
    setGeometry(0, 0, window->width(), kHeight);
    FollowActivation();
    window->installEventFilter(this);
}

QToolButton* WaylandTitleBar::AddButton(const QString& glyph, const QString& name)
{
    auto* button = new QToolButton(this);
    button->setText(glyph);
    button->setToolTip(name);
    button->setAccessibleName(name);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setFixedSize(kHeight - 4, kHeight - 4);
    QFont glyphFont = font();
    glyphFont.setPixelSize(kGlyphPixels);
    button->setFont(glyphFont);
    layout()->addWidget(button);
    return button;
}

// The active window's bar in the selection colours, an inactive one in a
// grey a shade darker than the window, as desktops draw them (the style's
// palette often has one highlight for both states); the text on either at
// least 4.5:1 (a style sheet, because the style ignores the palette's text
// colour on tool buttons).
void WaylandTitleBar::FollowActivation()
{
    const bool active = window()->isActiveWindow();
    // (the window's palette: the bar's own is rewritten by its style sheet)
    const QPalette& colours = window()->palette();
    const QColor text = active ? colours.color(QPalette::Active, QPalette::HighlightedText)
                               : colours.color(QPalette::Inactive, QPalette::WindowText);
    const QColor base = active ? colours.color(QPalette::Active, QPalette::Highlight)
                               : colours.color(QPalette::Inactive, QPalette::Window).darker(115);
    const QColor background = ReadableBehind(base, text);
    const QColor hover =
        Luminance(background) > 0.5 ? background.darker(125) : background.lighter(130);
    setStyleSheet(QStringLiteral("* { background: %1; color: %2; }"
                                 "QToolButton { border: none; }"
                                 "QToolButton:hover { background: %3; }")
                      .arg(background.name(), text.name(), hover.name()));
    update();
}

// Follows the window's width, title and activation.
bool WaylandTitleBar::eventFilter(QObject* watched, QEvent* event)
{
    auto* window = static_cast<QWidget*>(watched);
    if (event->type() == QEvent::Resize) {
        setGeometry(0, 0, window->width(), kHeight);
    } else if (event->type() == QEvent::WindowTitleChange) {
        m_title->setText(window->windowTitle());
    } else if (event->type() == QEvent::ActivationChange) {
        FollowActivation();
    }
    return false;
}

void WaylandTitleBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && window()->windowHandle() != nullptr) {
        window()->windowHandle()->startSystemMove();
    }
}

void WaylandTitleBar::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(0, height() - 1, width(), height() - 1);
}
