#pragma once

// Command and control identifiers of the dialog.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDCLOSE = 8;
inline constexpr int IDC_FREQUENCY = 1001;
inline constexpr int IDC_WAVEFORM_LIST = 1002;
inline constexpr int IDC_STATUS = 1006;
inline constexpr int IDC_STOP = 1011;

// Scroll codes of the window's own horizontal bar.
inline constexpr unsigned SB_LINELEFT = 0;
inline constexpr unsigned SB_LINERIGHT = 1;
inline constexpr unsigned SB_PAGELEFT = 2;
inline constexpr unsigned SB_PAGERIGHT = 3;
inline constexpr unsigned SB_THUMBPOSITION = 4;
inline constexpr unsigned SB_THUMBTRACK = 5;
inline constexpr unsigned SB_LEFT = 6;
inline constexpr unsigned SB_RIGHT = 7;
inline constexpr unsigned SB_ENDSCROLL = 8;

// The list's answer when nothing is selected.
inline constexpr int LB_ERR = -1;
