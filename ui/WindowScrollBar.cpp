#include "WindowScrollBar.h"

WindowScrollBar::WindowScrollBar(QWidget* parent) : QScrollBar(Qt::Horizontal, parent)
{
    setFocusPolicy(Qt::NoFocus);
    setInvertedControls(false);
    setSingleStep(1);
    setPageStep(1);  // a thumb of the style's smallest size
}

void WindowScrollBar::CancelRepeat()
{
    setRepeatAction(SliderNoAction);
}
