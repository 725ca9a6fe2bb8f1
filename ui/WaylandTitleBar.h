#pragma once

#include <QWidget>

class QLabel;
class QToolButton;

// The title bar a window draws itself on a Wayland compositor that leaves
// decorations to its clients (weston, GNOME's mutter): the toolkit's own
// decoration always offers a maximize button and tells the compositor size
// limits without its frame. With it the window is frameless to the
// compositor: its geometry is its own size, and its bar has the title, a
// minimize box and a close box only. Dragging the bar moves the window;
// double-clicking it does nothing. A compositor that decorates windows
// itself (KWin, sway and the other wlroots ones) is left to do so.
class WaylandTitleBar : public QWidget {
public:
    static constexpr int kHeight = 28;

    enum Buttons { MinimizeAndClose, CloseOnly };

    // Whether windows draw this bar: on Wayland, where the compositor does
    // not offer to decorate them.
    static bool Wanted();
    // Makes `window` frameless, reserves kHeight at its top (as a contents
    // margin) and puts the bar there.
    static WaylandTitleBar* Attach(QWidget* window, Buttons buttons = MinimizeAndClose);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    WaylandTitleBar(QWidget* window, Buttons buttons);
    QToolButton* AddButton(const QString& glyph, const QString& name);
    void FollowActivation();

    QLabel* m_title;
};
