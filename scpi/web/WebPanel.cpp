#include "WebPanel.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

#include "MarkupText.h"

namespace {

// (made at build time from panel.html and panel.js)
constexpr std::string_view kPanelPage =
#include "panel.html.inc"
    ;
constexpr std::string_view kPanelScript =
#include "panel.js.inc"
    ;

constexpr double kSampleRate = 48000.0;
constexpr double kPeriodsShown = 3.0;
constexpr std::size_t kNoiseShown = 480;  // 10 ms of a waveform without a period

double Number(const std::string& text)
{
    double value = 0.0;
    const char* begin = text.data();
    if (!text.empty() && text.front() == '+') {
        ++begin;
    }
    std::from_chars(begin, text.data() + text.size(), value);
    return value;
}

// A value as a person reads it: up to 10 significant digits, no exponent
// for a frequency or a level a generator gives.
std::string Plain(const std::string& scpiNumber)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", Number(scpiNumber));
    return text;
}

std::string Unquoted(const std::string& quoted)
{
    if (quoted.size() < 2 || quoted.front() != '"') {
        return quoted;
    }
    std::string inside;
    for (std::size_t i = 1; i + 1 < quoted.size(); ++i) {
        inside += quoted[i];
        if (quoted[i] == '"') {
            ++i;  // ("" is one quote)
        }
    }
    return inside;
}

std::vector<std::string> Fields(const std::string& response)
{
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (const char c : response) {
        if (c == '"') {
            quoted = !quoted;
        }
        if (c == ';' && !quoted) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

std::string ShapeWords(const WebPanel::ChannelView& channel)
{
    const std::string& f = channel.function;
    if (f == "SIN") {
        return "sine";
    }
    if (f == "TRI") {
        return "triangle";
    }
    if (f == "SQU") {
        return "square wave of " + Plain(channel.duty) + " % duty cycle";
    }
    if (f == "RAMP") {
        return "ramp of " + Plain(channel.symmetry) + " % symmetry";
    }
    if (f == "PULS") {
        return "pulse";
    }
    if (f == "NOIS") {
        return "white noise";
    }
    if (f == "HNO") {
        return "held white noise";
    }
    if (f == "SWE") {
        return "sweeping sine";
    }
    if (f == "ARB") {
        return "arbitrary waveform " + Unquoted(channel.arb);
    }
    return f;
}

std::string UnitWords(const std::string& unit)
{
    return unit == "VRMS" ? "Vrms" : unit == "DBM" ? "dBm" : "Vpp";
}

void Row(std::string& page, const char* name, const std::string& value)
{
    page += "<tr><th scope=\"row\">";
    page += name;
    page += "</th><td>" + MarkupText::Escaped(value) + "</td></tr>\n";
}

}  // namespace

WebPanel::WebPanel(ScpiInstrument& instrument, Identity identity, Reach reach)
    : m_instrument(instrument), m_identity(std::move(identity)), m_reach(std::move(reach))
{
}

std::string_view WebPanel::PanelPage()
{
    return kPanelPage;
}

std::string_view WebPanel::PanelScript()
{
    return kPanelScript;
}

std::vector<std::string> WebPanel::AddressStrings(const NetworkInterface& where) const
{
    std::vector<std::string> strings{"TCPIP::" + where.address +
                                     "::" + std::to_string(m_reach.scpiPort) + "::SOCKET"};
    if (m_reach.vxi11) {
        strings.push_back("TCPIP::" + where.address + "::INSTR");
    }
    return strings;
}

std::string WebPanel::WelcomePage(bool identifying) const
{
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
        MarkupText::Escaped(m_identity.model + " " + m_identity.serial) +
        "</title>\n<style>body{font-family:sans-serif;margin:1.5em;max-width:48em}"
        "th{text-align:left;padding-right:1em;vertical-align:top}"
        ".identify{border:3px solid #c00;padding:.5em;font-weight:bold}</style>\n"
        "</head><body>\n<h1>" +
        MarkupText::Escaped(m_identity.model) + "</h1>\n";
    page += identifying ? "<p class=\"identify\" role=\"status\">Identify is on: this is the "
                          "instrument.</p>\n"
                        : "<p role=\"status\">Identify is off.</p>\n";
    page += "<form method=\"post\" action=\"/identify\"><button name=\"identify\" value=\"" +
            std::string(identifying ? "off" : "on") + "\">" +
            (identifying ? "Stop identifying" : "Identify") +
            "</button></form>\n<p><a href=\"/panel\">Front panel</a> &middot; "
            "<a href=\"/lxi/identification\">LXI identification</a></p>\n"
            "<table>\n";
    Row(page, "Model", m_identity.model);
    Row(page, "Manufacturer", m_identity.manufacturer);
    Row(page, "Serial number", m_identity.serial);
    Row(page, "Description", m_identity.description);
    Row(page, "LXI version", "1.5 (not certified)");
    Row(page, "LXI extended functions", "none");
    Row(page, "Host name", m_reach.hostName);
    Row(page, "Firmware revision", m_identity.firmware);
    for (const NetworkInterface& where : m_reach.interfaces) {
        Row(page, "Interface", where.name.empty() ? "-" : where.name);
        Row(page, "MAC address", where.mac);
        Row(page, "TCP/IP address", where.address);
        Row(page, "Subnet mask", where.mask);
        for (const std::string& address : AddressStrings(where)) {
            Row(page, "VISA resource string", address);
        }
    }
    return page + "</table>\n</body></html>\n";
}

std::string WebPanel::Identification() const
{
    const auto element = [](const char* name, const std::string& value) {
        return std::string("  <") + name + ">" + MarkupText::Escaped(value) + "</" + name + ">\n";
    };
    std::string document =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<LXIDevice xmlns=\"http://www.lxistandard.org/InstrumentIdentification/1.0\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n";
    document += element("Manufacturer", m_identity.manufacturer);
    document += element("Model", m_identity.model);
    document += element("SerialNumber", m_identity.serial);
    document += element("FirmwareRevision", m_identity.firmware);
    document += element("ManufacturerDescription", m_identity.description);
    document += element("UserDescription", m_identity.description);
    document +=
        element("IdentificationURL", "http://" + m_reach.interfaces.front().address + ":" +
                                         std::to_string(m_reach.httpPort) + "/lxi/identification");
    for (const NetworkInterface& where : m_reach.interfaces) {
        document +=
            "  <Interface xsi:type=\"NetworkInformation\" InterfaceType=\"LXI\" IPType=\"IPv4\"";
        if (!where.name.empty()) {
            document += " InterfaceName=\"" + MarkupText::Escaped(where.name) + "\"";
        }
        document += ">\n";
        for (const std::string& address : AddressStrings(where)) {
            document += "  " + element("InstrumentAddressString", address);
        }
        document += "  " + element("Hostname", m_reach.hostName);
        document += "  " + element("IPAddress", where.address);
        document += "  " + element("SubnetMask", where.mask);
        document += "  " + element("MACAddress", where.mac);
        document += "  " + element("Gateway", where.gateway);
        document += "  " + element("DHCPEnabled", "false");
        document += "  " + element("AutoIPEnabled", "false");
        document += "  </Interface>\n";
    }
    document += element("LXIVersion", "1.5");
    return document + "</LXIDevice>\n";
}

std::string WebPanel::Ask(const std::string& queries)
{
    std::string response;
    m_session.Abandon();
    if (!m_instrument.Begin(queries, m_session, response)) {
        m_session.Abandon();  // (queries never wait)
    }
    return response;
}

WebPanel::ChannelView WebPanel::Channel(int number)
{
    const std::string n = std::to_string(number);
    const std::string s = ":SOUR" + n;
    const std::vector<std::string> f = Fields(
        Ask(s + ":FUNC?;" + s + ":FREQ?;" + s + ":VOLT?;" + s + ":VOLT:UNIT?;:OUTP" + n + "?;" + s +
            ":PHAS?;" + s + ":FUNC:SQU:DCYC?;" + s + ":FUNC:RAMP:SYMM?;" + s + ":PULS:WIDT?;" + s +
            ":PULS:TRAN?;" + s + ":FUNC:ARB?;:STAT:QUES:INST:ISUM" + n + ":COND?"));
    ChannelView view;
    view.number = number;
    if (f.size() == 12) {
        view.function = f[0];
        view.frequency = f[1];
        view.amplitude = f[2];
        view.unit = f[3];
        view.output = f[4] == "1";
        view.phase = f[5];
        view.duty = f[6];
        view.symmetry = f[7];
        view.width = f[8];
        view.edge = f[9];
        view.arb = f[10];
        view.lost =
            view.output && (static_cast<int>(Number(f[11])) & ScpiInstrument::kNoSound) != 0;
    }
    return view;
}

std::string WebPanel::Sentence(const ChannelView& channel)
{
    const std::string what = ShapeWords(channel) + " at " + Plain(channel.frequency) + " Hz, " +
                             Plain(channel.amplitude) + " " + UnitWords(channel.unit);
    const std::string name = "Channel " + std::to_string(channel.number);
    if (!channel.output) {
        return name + " is off; it is set to a " + what + ".";
    }
    if (channel.lost) {
        return name + " is on but silent: the sound device is lost. Its " + what +
               " plays again once the device is back.";
    }
    return name + " plays a " + what + ".";
}

std::string WebPanel::Picture(const std::vector<std::int16_t>& loop, double frequency)
{
    constexpr int middle = kPictureHeight / 2;
    if (loop.empty()) {
        return "M0 " + std::to_string(middle) + " H" + std::to_string(kPictureWidth);
    }
    const double periodic = frequency > 0.0 ? kPeriodsShown * kSampleRate / frequency : 0.0;
    std::size_t shown =
        periodic >= 1.0 ? static_cast<std::size_t>(std::lround(periodic)) : kNoiseShown;
    shown = std::clamp<std::size_t>(shown, 2, loop.size());
    const std::size_t columns = std::min<std::size_t>(shown, kPictureWidth / 2);
    std::string path;
    const auto y = [](int sample) {
        return middle - static_cast<int>(std::lround(sample * (middle - 2) / 32767.5));
    };
    for (std::size_t column = 0; column < columns; ++column) {
        const auto first = loop.begin() + static_cast<std::ptrdiff_t>(column * shown / columns);
        const auto last =
            loop.begin() + static_cast<std::ptrdiff_t>((column + 1) * shown / columns);
        const auto [low, high] = std::minmax_element(first, std::max(last, first + 1));
        // (drawn in the order they come, so an edge goes the right way)
        const bool lowFirst = low < high;
        const int x = static_cast<int>(column * kPictureWidth / columns);
        path += (column == 0 ? "M" : " L") + std::to_string(x) + " " +
                std::to_string(y(lowFirst ? *low : *high));
        path += " L" + std::to_string(x + kPictureWidth / static_cast<int>(columns) / 2) + " " +
                std::to_string(y(lowFirst ? *high : *low));
    }
    return path;
}

std::string WebPanel::State(bool identifying)
{
    std::string json = "{\"identify\":" + std::string(identifying ? "true" : "false") +
                       ",\"display\":" + MarkupText::Json(Unquoted(Ask(":DISP:TEXT?"))) +
                       ",\"errors\":[";
    bool first = true;
    for (const auto& [code, text] : m_instrument.Errors()) {
        if (!first) {
            json += ",";
        }
        first = false;
        json += "{\"code\":" + std::to_string(code) + ",\"text\":" + MarkupText::Json(text) + "}";
    }
    json += "],\"channels\":[";
    for (int number = 1; number <= StereoWaveOut::kChannels; ++number) {
        const ChannelView view = Channel(number);
        json += number > 1 ? ",{" : "{";
        json += "\"channel\":" + std::to_string(number);
        const std::pair<const char*, const std::string*> numbers[] = {
            {"frequency", &view.frequency},
            {"amplitude", &view.amplitude},
            {"phase", &view.phase},
            {"duty", &view.duty},
            {"symmetry", &view.symmetry},
            {"width", &view.width},
            {"edge", &view.edge}};
        for (const auto& [name, value] : numbers) {
            json += ",\"" + std::string(name) + "\":" + MarkupText::Json(Plain(*value));
        }
        json += ",\"function\":" + MarkupText::Json(view.function);
        json += ",\"unit\":" + MarkupText::Json(view.unit);
        json += ",\"arb\":" + MarkupText::Json(Unquoted(view.arb));
        json += ",\"output\":" + std::string(view.output ? "true" : "false");
        json += ",\"lost\":" + std::string(view.lost ? "true" : "false");
        json += ",\"sentence\":" + MarkupText::Json(Sentence(view));
        json += ",\"picture\":" + MarkupText::Json(Picture(m_instrument.PlayingLoop(number - 1),
                                                           Number(view.frequency)));
        json += "}";
    }
    return json + "]}";
}
