#pragma once

#include <QLabel>

// The status line. A command may write it more than once (Start says
// "Stopped", then what plays); a screen reader is told what it says once
// the command has written it: one change of its accessible name, after the
// command's turn of the event loop, and none when the text came back to
// what was last told.
class StatusLine : public QLabel {
public:
    explicit StatusLine(QWidget* parent = nullptr);

    void Show(const QString& text);
    // What a screen reader was last told: the line's accessible name.
    const QString& Announced() const { return m_announced; }

private:
    void Announce();

    QString m_announced;
    bool m_announcing = false;
};
