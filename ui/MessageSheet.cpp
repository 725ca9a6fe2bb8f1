#include "MessageSheet.h"

#include <QAccessible>
#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "WaylandTitleBar.h"

namespace {

constexpr int kMargin = 8;  // between the box and the window's edges

bool IsInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TabletPress:
        return true;
    default:
        return false;
    }
}

}  // namespace

MessageSheet::MessageSheet(QWidget* window) : QWidget(window)
{
    hide();
}

QFrame* MessageSheet::MakeBox(const QString& caption, const QString& text)
{
    auto* box = new QFrame(this);
    box->setFrameShape(QFrame::Box);
    box->setAutoFillBackground(true);
    box->setObjectName(QStringLiteral("messageSheetBox"));
    box->setFont(QApplication::font());  // a box's font, not the window's
    box->setWindowTitle(caption);
    box->setAccessibleName(caption);
    auto* label = new QLabel(text, box);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    auto* ok = new QPushButton(tr("OK"), box);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &MessageSheet::CloseBox);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(16, 12, 12, 12);
    layout->setSpacing(16);
    layout->addWidget(label);
    layout->addLayout(buttons);
    WaylandTitleBar::Attach(box, WaylandTitleBar::CloseOnly);
    // As wide as its longest line, if the window has room.
    const QMargins margins = layout->contentsMargins();
    const int natural = box->fontMetrics().size(0, text).width() + margins.left() +
                        margins.right() + 2 * box->frameWidth();
    const int most = width() - 2 * kMargin;
    const int boxWidth = std::min(std::max(natural, box->sizeHint().width()), most);
    box->resize(boxWidth, std::max(box->heightForWidth(boxWidth), box->sizeHint().height()));
    box->move((width() - box->width()) / 2, (height() - box->height()) / 2);
    ok->setFocus();
    return box;
}

void MessageSheet::Run(const QString& caption, const QString& text)
{
    setGeometry(parentWidget()->rect());
    raise();
    show();
    QEventLoop loop;
    m_loop = &loop;
    m_box = MakeBox(caption, text);
    m_box->show();
    QAccessibleEvent alert(m_box, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
    QApplication::instance()->installEventFilter(this);
    loop.exec();
    QApplication::instance()->removeEventFilter(this);
    delete m_box;
    m_box = nullptr;
    m_loop = nullptr;
    hide();
}

void MessageSheet::CloseBox()
{
    if (m_loop != nullptr) {
        m_loop->quit();
    }
}

void MessageSheet::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0, 0, 0, 64));
}

// Input for the box reaches it, Esc closes it; the rest of the window gets
// none. The bar's close box closes the box's frame, which ends it too.
bool MessageSheet::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_box && event->type() == QEvent::Close) {
        CloseBox();
        return true;
    }
    if (!IsInput(event->type()) || m_box == nullptr) {
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr) {
        return event->type() == QEvent::Shortcut;  // the window's own shortcuts
    }
    if (widget->window() != window()) {
        return false;  // another window's (a menu)
    }
    if (widget != m_box && !m_box->isAncestorOf(widget)) {
        return true;
    }
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        CloseBox();
        return true;
    }
    return false;
}
