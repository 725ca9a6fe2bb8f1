#include "AlsaDeviceNames.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cstdlib>

namespace {

// A hint's value as a string; ALSA hands out copies for us to free.
std::string HintValue(const void* hint, const char* id)
{
    char* value = snd_device_name_get_hint(hint, id);
    std::string text = value != nullptr ? value : "";
    std::free(value);
    return text;
}

}  // namespace

std::vector<PcmDescription> PlaybackPcms()
{
    std::vector<PcmDescription> pcms;
    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) < 0) {
        return pcms;
    }
    for (void** hint = hints; *hint != nullptr; ++hint) {
        const std::string direction = HintValue(*hint, "IOID");
        std::string name = HintValue(*hint, "NAME");
        if (name.empty() || (!direction.empty() && direction != "Output")) {
            continue;
        }
        std::string description = HintValue(*hint, "DESC");
        std::replace(description.begin(), description.end(), '\n', ' ');
        pcms.push_back({std::move(name), std::move(description)});
    }
    snd_device_name_free_hint(hints);
    return pcms;
}
