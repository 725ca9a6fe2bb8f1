#pragma once

#include <iterator>

// The seven waveforms, in list order: a waveform's number is its row in the
// window's list. The list sorts its items, so each text starts with its
// row's number: sorted, they stay in this order (while there are fewer than
// ten; "10)" would sort before "2)").
struct WaveformName {
    const char* listText;     // the window's list item
    const char* commandLine;  // the name wavegen-render and its completion take
};

inline constexpr WaveformName kWaveformNames[] = {
    {"1) Sine", "sine"},
    {"2) Triangle", "triangle"},
    {"3) Square", "square"},
    {"4) 1:100 pulse", "pulse"},
    {"5) White noise", "noise"},
    {"6) 1/100 sampling rate White noise", "held-noise"},
    {"7) 1/3-5/3*f Sweeping sine", "sweep"},
};

inline constexpr int kWaveformCount = static_cast<int>(std::size(kWaveformNames));
