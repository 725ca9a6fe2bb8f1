#pragma once

#include <QAccessibleWidget>
#include <functional>

class WindowScrollBar;

// The frequency slider as a screen reader drives it. A value set through
// the bus is a thumb released there ("Scroll here"), and Increase and
// Decrease are the arrows' line steps, so box, thumb and sound stay in
// step whichever route moved it. (The toolkit's own interface would set
// the value behind the handlers' back.)
class ScrollBarAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit ScrollBarAccessible(WindowScrollBar* scrollBar);

    void* interface_cast(QAccessible::InterfaceType type) override;

    QVariant currentValue() const override;
    void setCurrentValue(const QVariant& value) override;
    QVariant maximumValue() const override;
    QVariant minimumValue() const override;
    QVariant minimumStepSize() const override;

    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;

    // For QAccessible::installFactory.
    static QAccessibleInterface* Create(const QString& className, QObject* object);

private:
    WindowScrollBar& ScrollBar() const;
    void Later(std::function<void()> step) const;
};
