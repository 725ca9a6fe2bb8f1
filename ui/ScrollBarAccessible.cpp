#include "ScrollBarAccessible.h"

#include "WindowScrollBar.h"

#include <QTimer>
#include <algorithm>
#include <cmath>
#include <utility>

ScrollBarAccessible::ScrollBarAccessible(WindowScrollBar* scrollBar)
    : QAccessibleWidget(scrollBar, QAccessible::ScrollBar)
{
}

WindowScrollBar& ScrollBarAccessible::ScrollBar() const
{
    return *static_cast<WindowScrollBar*>(widget());
}

// The step runs from the event loop once the call has returned, as a
// button's Press does: the restart it makes may wait for a device and
// show boxes, and the screen reader that asked must not wait for those.
void ScrollBarAccessible::Later(std::function<void()> step) const
{
    QTimer::singleShot(0, widget(), std::move(step));
}

void* ScrollBarAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::ValueInterface) {
        return static_cast<QAccessibleValueInterface*>(this);
    }
    return QAccessibleWidget::interface_cast(type);
}

QVariant ScrollBarAccessible::currentValue() const
{
    return ScrollBar().value();
}

void ScrollBarAccessible::setCurrentValue(const QVariant& value)
{
    WindowScrollBar& bar = ScrollBar();
    bool number = false;
    const double wanted = value.toDouble(&number);
    if (!number || !std::isfinite(wanted) || !bar.isEnabled() || !bar.m_onScrollHere) {
        return;
    }
    const double clamped = std::clamp(wanted, double(bar.minimum()), double(bar.maximum()));
    const int position = static_cast<int>(std::lround(clamped));
    Later([&bar, position] { bar.m_onScrollHere(position); });
}

QVariant ScrollBarAccessible::maximumValue() const
{
    return ScrollBar().maximum();
}

QVariant ScrollBarAccessible::minimumValue() const
{
    return ScrollBar().minimum();
}

QVariant ScrollBarAccessible::minimumStepSize() const
{
    return ScrollBar().singleStep();
}

QStringList ScrollBarAccessible::actionNames() const
{
    return QAccessibleWidget::actionNames() << increaseAction() << decreaseAction();
}

void ScrollBarAccessible::doAction(const QString& actionName)
{
    if (!ScrollBar().isEnabled()) {
        return;
    }
    WindowScrollBar& bar = ScrollBar();
    if (actionName == increaseAction()) {
        Later([&bar] { bar.triggerAction(QAbstractSlider::SliderSingleStepAdd); });
    } else if (actionName == decreaseAction()) {
        Later([&bar] { bar.triggerAction(QAbstractSlider::SliderSingleStepSub); });
    } else {
        QAccessibleWidget::doAction(actionName);
    }
}

QAccessibleInterface* ScrollBarAccessible::Create(const QString&, QObject* object)
{
    auto* scrollBar = dynamic_cast<WindowScrollBar*>(object);
    return scrollBar != nullptr ? new ScrollBarAccessible(scrollBar) : nullptr;
}
