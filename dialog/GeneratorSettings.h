#pragma once

#include "GeneratorState.h"
#include "ShapeSettings.h"
#include "WaveformSynthesis.h"

// What a front end asks the generator to play. The window, the tool and the
// instrument each fill one and hand it to the dialog, which alone decides
// what becomes of it (see SettingsOutcome).
struct GeneratorSettings {
    int waveform = kSine;
    double frequency = kDefaultFrequency;  // Hz
    double level = 1.0;                    // share of full scale, 0 to 1
    // The noises centred on zero (the same sequence, shifted) rather than
    // running from 0 to the top, as the window plays them.
    bool centredNoise = false;
    // The instrument's and the tool's refinements; the window leaves them.
    ShapeSettings shape;

    bool operator==(const GeneratorSettings&) const = default;
};

// How the settings reach the output.
enum class SettingsRoute {
    // The window's Start: stop, check and correct, make the buffer, open
    // the device and play. A refusal leaves the output stopped.
    Start,
    // A change under whatever the output does now: nothing opens or closes.
    // A refusal changes nothing and the old sound plays on.
    Live,
};

// What the dialog did with settings.
enum class SettingsOutcome {
    Switched,   // the new loop took the old one's place, gaplessly
    Restarted,  // the output was stopped and opened again (Start)
    Stored,     // checked and kept; the output is off, they play when it goes on
    Kept,       // the device is lost: they play as soon as it is back
    Refused,    // refused with a message; nothing changed (Start: stopped)
    Busy,       // an open is under way; nothing changed
    Failed,     // the device would not open (Start, after its messages)
    Cancelled,  // the open was given up (a Stop, an Exit, a stop signal)
};
