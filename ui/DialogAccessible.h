#pragma once

#include <QAccessibleWidget>

class QtDialogWindow;

// The dialog window as a screen reader sees it: its children in the order
// of the template, not in the stacking order that keeps Start on top.
class DialogAccessible : public QAccessibleWidget {
public:
    explicit DialogAccessible(QtDialogWindow* window);

    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;

    // For QAccessible::installFactory.
    static QAccessibleInterface* Create(const QString& className, QObject* object);

private:
    const QtDialogWindow& Window() const;
};
