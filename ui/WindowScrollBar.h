#pragma once

#include <QScrollBar>
#include <functional>

// The window's own horizontal scroll bar along the bottom of the client
// area. It never takes the focus, the arrows are not swapped, the wheel does
// nothing (the window has no wheel action), and every entry of its context
// menu goes through the same routes as the mouse.
class WindowScrollBar : public QScrollBar {
public:
    explicit WindowScrollBar(QWidget* parent);

    // Ends a press-and-hold auto-repeat, for when a modal box is about to
    // take the mouse away from the bar.
    void CancelRepeat();

    // Receives the menu's "Scroll here" with the position under the pointer.
    std::function<void(int position)> m_onScrollHere;

protected:
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    int ValueAt(QPoint point) const;
};
