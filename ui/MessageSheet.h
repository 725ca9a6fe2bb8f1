#pragma once

#include <QWidget>

class QEventLoop;
class QFrame;

// A message box inside its window, centred over it. A compositor that
// leaves decorations to its clients may also place their dialogs anywhere
// (weston: at random on the screen), and a Wayland client cannot move its
// own windows; inside the window the box is where its window is. The sheet
// covers the window, dims it, and takes every click and key that is not
// the box's, as a modal box's window would refuse them. The box has the
// own title bar, the text wrapped to the window's width, and OK; Enter,
// Esc, OK and the bar's close box end it.
class MessageSheet : public QWidget {
public:
    explicit MessageSheet(QWidget* window);

    // Shows the box and returns once it is closed.
    void Run(const QString& caption, const QString& text);
    // Ends a box that is showing (a stop signal while it waits).
    void CloseBox();

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QFrame* MakeBox(const QString& caption, const QString& text);

    QFrame* m_box = nullptr;
    QEventLoop* m_loop = nullptr;
};
