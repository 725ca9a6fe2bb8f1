#pragma once

#include <QWidget>

class QLabel;

// The title bar a window draws itself on Wayland, where the toolkit's own
// decoration always offers a maximize button and tells the compositor size
// limits without its frame. With it the window is frameless to the
// compositor: its geometry is its own size, and its bar has the title, a
// minimize box and a close box only. Dragging the bar moves the window;
// double-clicking it does nothing.
class WaylandTitleBar : public QWidget {
public:
    static constexpr int kHeight = 28;

    // Whether windows draw this bar: on Wayland only.
    static bool Wanted();
    // Makes `window` frameless, reserves kHeight at its top (as a contents
    // margin) and puts the bar there.
    static WaylandTitleBar* Attach(QWidget* window);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit WaylandTitleBar(QWidget* window);

    QLabel* m_title;
};
