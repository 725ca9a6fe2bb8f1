#include "DialogAccessible.h"

#include "QtDialogWindow.h"

DialogAccessible::DialogAccessible(QtDialogWindow* window)
    : QAccessibleWidget(window, QAccessible::Dialog)
{
}

const QtDialogWindow& DialogAccessible::Window() const
{
    return *static_cast<const QtDialogWindow*>(widget());
}

int DialogAccessible::childCount() const
{
    return static_cast<int>(Window().ReadingOrder().size());
}

QAccessibleInterface* DialogAccessible::child(int index) const
{
    const QList<QWidget*>& order = Window().ReadingOrder();
    return index >= 0 && index < order.size() ? QAccessible::queryAccessibleInterface(order[index])
                                              : nullptr;
}

int DialogAccessible::indexOfChild(const QAccessibleInterface* child) const
{
    return child == nullptr ? -1
                            : static_cast<int>(Window().ReadingOrder().indexOf(child->object()));
}

QAccessibleInterface* DialogAccessible::Create(const QString&, QObject* object)
{
    auto* window = dynamic_cast<QtDialogWindow*>(object);
    return window != nullptr ? new DialogAccessible(window) : nullptr;
}
