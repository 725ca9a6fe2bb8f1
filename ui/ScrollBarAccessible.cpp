#include "ScrollBarAccessible.h"

#include "WindowScrollBar.h"

#include <algorithm>
#include <cmath>

ScrollBarAccessible::ScrollBarAccessible(WindowScrollBar* scrollBar)
    : QAccessibleWidget(scrollBar, QAccessible::ScrollBar)
{
}

WindowScrollBar& ScrollBarAccessible::ScrollBar() const
{
    return *static_cast<WindowScrollBar*>(widget());
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
    bar.m_onScrollHere(static_cast<int>(std::lround(clamped)));
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
    if (actionName == increaseAction()) {
        ScrollBar().triggerAction(QAbstractSlider::SliderSingleStepAdd);
    } else if (actionName == decreaseAction()) {
        ScrollBar().triggerAction(QAbstractSlider::SliderSingleStepSub);
    } else {
        QAccessibleWidget::doAction(actionName);
    }
}

QAccessibleInterface* ScrollBarAccessible::Create(const QString&, QObject* object)
{
    auto* scrollBar = dynamic_cast<WindowScrollBar*>(object);
    return scrollBar != nullptr ? new ScrollBarAccessible(scrollBar) : nullptr;
}
