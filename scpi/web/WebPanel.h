#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "NetworkInterface.h"
#include "ScpiInstrument.h"

// What the instrument's web pages say: the welcome page and the LXI
// identification document, and the front panel's state. The state is read
// with SCPI queries of the instrument itself, and the panel's controls are
// SCPI messages, so the page, a script and the instrument never disagree.
class WebPanel {
public:
    struct Identity {
        std::string manufacturer, model, serial, firmware, description;
    };
    // Where clients reach the instrument.
    struct Reach {
        std::string hostName;
        std::vector<NetworkInterface> interfaces;
        unsigned short scpiPort = 0;
        unsigned short httpPort = 0;
        bool vxi11 = false;  // registered with rpcbind: TCPIP::host::INSTR opens
    };
    // One channel as the panel shows it: the instrument's answers.
    struct ChannelView {
        int number = 1;
        std::string function, frequency, amplitude, unit, phase, duty, symmetry, width, edge, arb;
        bool output = false;
        bool lost = false;  // on, with the sound device lost
    };

    static constexpr int kPictureWidth = 600;
    static constexpr int kPictureHeight = 128;

    WebPanel(ScpiInstrument& instrument, Identity identity, Reach reach);

    // The LXI welcome page: plain HTML, whole without scripts.
    std::string WelcomePage(bool identifying) const;
    // The LXI identification document (/lxi/identification).
    std::string Identification() const;
    // The front panel's page: controls and script, nothing from outside.
    static std::string_view PanelPage();
    static std::string_view PanelScript();
    // The panel's state as JSON: both channels, the error queue (left
    // queued), the display text and the identify indicator.
    std::string State(bool identifying);
    ChannelView Channel(int number);

    // The VISA resource strings a client can open.
    std::vector<std::string> AddressStrings(const NetworkInterface& where) const;
    // One sentence of what a channel plays now.
    static std::string Sentence(const ChannelView& channel);
    // An SVG path of a few periods of `loop` at `frequency`, scaled to the
    // picture (a flat line for silence); each column its lowest and highest
    // sample, so no peak is lost.
    static std::string Picture(const std::vector<std::int16_t>& loop, double frequency);

private:
    std::string Ask(const std::string& queries);

    ScpiInstrument& m_instrument;
    const Identity m_identity;
    const Reach m_reach;
    ScpiSession m_session;  // the panel's own place in the command tree
};
