#pragma once

#include <QAccessibleWidget>

class StatusLine;

// The status line as a screen reader reads it: static text named by what
// it last announced, described as "Status".
class StatusLineAccessible : public QAccessibleWidget {
public:
    explicit StatusLineAccessible(StatusLine* line);

    QString text(QAccessible::Text type) const override;

    // For QAccessible::installFactory.
    static QAccessibleInterface* Create(const QString& className, QObject* object);
};
