#pragma once

#include <QScrollBar>

// The window's own horizontal scroll bar along the bottom of the client
// area. It never takes the focus, and the arrows are not swapped.
class WindowScrollBar : public QScrollBar {
public:
    explicit WindowScrollBar(QWidget* parent);

    // Ends a press-and-hold auto-repeat, for when a modal box is about to
    // take the mouse away from the bar.
    void CancelRepeat();
};
