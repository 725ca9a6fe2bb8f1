#include "StatusLine.h"

#include <QAccessible>
#include <QTimer>

StatusLine::StatusLine(QWidget* parent) : QLabel(parent)
{
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setTextFormat(Qt::PlainText);
    // A label without a name of its own announces every setText; with one,
    // none: the name a reader gets is Announced() (StatusLineAccessible).
    setAccessibleName(QStringLiteral("status"));
}

void StatusLine::Show(const QString& text)
{
    setText(text);
    if (!m_announcing) {
        m_announcing = true;
        QTimer::singleShot(0, this, [this] { Announce(); });
    }
}

void StatusLine::Announce()
{
    m_announcing = false;
    if (text() == m_announced) {
        return;
    }
    m_announced = text();
    QAccessibleEvent event(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}
