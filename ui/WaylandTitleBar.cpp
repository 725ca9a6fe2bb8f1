#include "WaylandTitleBar.h"

#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <QWindow>

bool WaylandTitleBar::Wanted()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

WaylandTitleBar* WaylandTitleBar::Attach(QWidget* window)
{
    // The window's type alone: the toolkit drops the frameless hint beside
    // the hints for a decoration's parts.
    window->setWindowFlags(window->windowType() | Qt::FramelessWindowHint);
    const QMargins margins = window->contentsMargins();
    window->setContentsMargins(margins.left(), margins.top() + kHeight, margins.right(),
                               margins.bottom());
    return new WaylandTitleBar(window);
}

WaylandTitleBar::WaylandTitleBar(QWidget* window) : QWidget(window), m_title(new QLabel(this))
{
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Highlight);
    m_title->setForegroundRole(QPalette::HighlightedText);
    m_title->setText(window->windowTitle());
    m_title->setTextFormat(Qt::PlainText);
    auto* minimize = new QToolButton(this);
    minimize->setText(QStringLiteral("\u2013"));
    minimize->setToolTip(tr("Minimize"));
    auto* close = new QToolButton(this);
    close->setText(QStringLiteral("\u00d7"));
    close->setToolTip(tr("Close"));
    for (QToolButton* button : {minimize, close}) {
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setForegroundRole(QPalette::HighlightedText);
        button->setFixedSize(kHeight - 4, kHeight - 4);
    }
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 0, 2, 0);
    layout->setSpacing(2);
    layout->addWidget(m_title, 1);
    layout->addWidget(minimize);
    layout->addWidget(close);
    connect(minimize, &QToolButton::clicked, window, &QWidget::showMinimized);
    connect(close, &QToolButton::clicked, window, &QWidget::close);
    setGeometry(0, 0, window->width(), kHeight);
    window->installEventFilter(this);
}

// Follows the window's width and title.
bool WaylandTitleBar::eventFilter(QObject* watched, QEvent* event)
{
    auto* window = static_cast<QWidget*>(watched);
    if (event->type() == QEvent::Resize) {
        setGeometry(0, 0, window->width(), kHeight);
    } else if (event->type() == QEvent::WindowTitleChange) {
        m_title->setText(window->windowTitle());
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
