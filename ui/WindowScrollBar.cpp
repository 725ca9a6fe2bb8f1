#include "WindowScrollBar.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>
#include <utility>

WindowScrollBar::WindowScrollBar(QWidget* parent) : QScrollBar(Qt::Horizontal, parent)
{
    setFocusPolicy(Qt::NoFocus);
    setInvertedControls(false);
    setSingleStep(1);
    setPageStep(1);  // a thumb of the style's smallest size
}

void WindowScrollBar::CancelRepeat()
{
    setRepeatAction(SliderNoAction);
}

void WindowScrollBar::wheelEvent(QWheelEvent* event)
{
    event->accept();  // taken here, so it reaches neither the bar nor the window
}

// The toolkit's own menu, with the same entries, but the edges and the
// steps go through triggerAction (and so to the handlers), and "Scroll here"
// to whoever receives it, instead of moving the thumb behind their back.
void WindowScrollBar::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    QAction* here = menu.addAction(tr("Scroll here"));
    menu.addSeparator();
    const std::pair<QAction*, SliderAction> actions[] = {
        {menu.addAction(tr("Left edge")), SliderToMinimum},
        {menu.addAction(tr("Right edge")), SliderToMaximum},
        {menu.addSeparator(), SliderNoAction},
        {menu.addAction(tr("Page left")), SliderPageStepSub},
        {menu.addAction(tr("Page right")), SliderPageStepAdd},
        {menu.addSeparator(), SliderNoAction},
        {menu.addAction(tr("Scroll left")), SliderSingleStepSub},
        {menu.addAction(tr("Scroll right")), SliderSingleStepAdd},
    };
    const int position = ValueAt(event->pos());
    QAction* chosen = menu.exec(event->globalPos());
    if (chosen == nullptr) {
        return;
    }
    if (chosen == here) {
        if (m_onScrollHere) {
            m_onScrollHere(position);
        }
        return;
    }
    for (const auto& [action, slider] : actions) {
        if (chosen == action) {
            triggerAction(slider);
        }
    }
}

// The value whose thumb would start at the point, as the toolkit's own
// "Scroll here" reckons it.
int WindowScrollBar::ValueAt(QPoint point) const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove =
        style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarGroove, this);
    const QRect thumb =
        style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
    const int span = groove.right() - thumb.width() + 1 - groove.x();
    return QStyle::sliderValueFromPosition(minimum(), maximum(), point.x() - groove.x(), span,
                                           option.upsideDown);
}
