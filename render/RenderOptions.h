#pragma once

#include <string>

#include "ShapeSettings.h"

// What wavegen-render was asked to do.
struct RenderOptions {
    int waveform = 0;
    std::string frequency = "500.000";
    std::string output;  // empty: none; "-": stdout
    bool raw = false;
    unsigned repeat = 1;
    bool play = false;
    double playSeconds = -1.0;  // below 0 while playing: until stopped
    std::string device = "default";
    double level = 1.0;         // of full scale: 1 leaves every sample as it is
    bool centredNoise = false;  // the noises about 0, as the instrument plays them
    ShapeSettings shape;        // the instrument's settings beyond the window's
    std::string arbitraryFile;  // --arb: the points, one a line, or raw codes (.raw)
    std::string secondChannel;  // --ch2: the right channel's settings, as options
    bool listDevices = false;
    bool printVersion = false;
    bool printHelp = false;
};

// Parses the command line as getopt does ("--" ends the options, an
// option's value may start with "-"). Returns -1 when the run is to go on,
// or 2 after a usage error (reported on stderr).
int ParseRenderOptions(int argc, char** argv, RenderOptions& options);

// The settings of --ch2 OPTIONS (its one argument, split at spaces): the
// waveform, frequency, level and shape options only. Returns -1, or 2 after
// a usage error.
int ParseChannelOptions(const std::string& text, RenderOptions& options);

// The text of --help: the usage, then what each option does.
std::string RenderHelp();

// Reports a usage error: one line of reason, then the usage. Returns 2.
int UsageError(const std::string& reason);
