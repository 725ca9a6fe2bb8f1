#include "StatusLineAccessible.h"

#include "StatusLine.h"

StatusLineAccessible::StatusLineAccessible(StatusLine* line)
    : QAccessibleWidget(line, QAccessible::StaticText)
{
}

QString StatusLineAccessible::text(QAccessible::Text type) const
{
    if (type == QAccessible::Name) {
        return static_cast<const StatusLine*>(widget())->Announced();
    }
    return QAccessibleWidget::text(type);
}

QAccessibleInterface* StatusLineAccessible::Create(const QString&, QObject* object)
{
    auto* line = dynamic_cast<StatusLine*>(object);
    return line != nullptr ? new StatusLineAccessible(line) : nullptr;
}
