#pragma once

#include <string>
#include <vector>

// A PCM that can play, as ALSA's device name hints describe it.
struct PcmDescription {
    std::string name;         // what snd_pcm_open takes: "default", "hw:CARD=PCH,DEV=0", ...
    std::string description;  // the hint's text, its lines joined by spaces
};

// The playback PCMs ALSA knows of, from the system's and the user's
// configuration, in ALSA's order.
std::vector<PcmDescription> PlaybackPcms();
