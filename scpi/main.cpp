// wavegen-scpi: the generator as a lab instrument, driven over SCPI on a
// TCP socket, as bench generators are from PyVISA scripts.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "AlsaWaveOut.h"
#include "LanAnnouncer.h"
#include "MonotonicTickSource.h"
#include "ScpiInstrument.h"
#include "ScpiServer.h"
#include "SerialNumber.h"
#include "Vxi11Server.h"
#include "WebPanel.h"
#include "WebServer.h"

namespace {

constexpr const char* kUsage =
    "Usage: wavegen-scpi [--listen [ADDR:]PORT] [-D PCM] [--full-scale VPP]\n"
    "                    [--queue MS] [--serial TEXT] [--http [ADDR:]PORT|off]\n"
    "                    [--password-file FILE]\n"
    "       wavegen-scpi -V | -h\n";

constexpr const char* kHelp =
    "Serves the generator as a SCPI instrument on a TCP socket (raw socket,\n"
    "one command line per line, as PyVISA's TCPIP::host::port::SOCKET) and\n"
    "over VXI-11 (TCPIP::host::INSTR, found through rpcbind), announces it\n"
    "through Avahi when it listens on a LAN address, and plays on an ALSA\n"
    "PCM, until SIGINT or SIGTERM.\n"
    "\n"
    "  -l, --listen [ADDR:]PORT  where to listen (default 127.0.0.1:5025; port 0:\n"
    "                            any free one, named on standard error); SCPI has\n"
    "                            no authentication: listen on a LAN address only\n"
    "                            on a trusted network\n"
    "  -D, --device PCM          the ALSA PCM to play on (default \"default\")\n"
    "      --full-scale VPP      the peak-to-peak volts of a full-scale sine at\n"
    "                            the output, as measured (default 2); VOLT\n"
    "                            amplitudes are shares of it\n"
    "      --queue MS            the sound kept queued, 20 to 90 ms (default 90):\n"
    "                            a new setting is heard after it, and a queue\n"
    "                            shorter than a busy machine's delays underruns\n"
    "      --http [ADDR:]PORT|off  where the web pages are served: the LXI welcome\n"
    "                            page, /lxi/identification and the front panel at\n"
    "                            /panel (default: the --listen address, port 80\n"
    "                            where it may be bound, else 8080; port 0: any free\n"
    "                            one; off: none)\n"
    "      --password-file FILE  the password (the file's first line) a change from\n"
    "                            another computer's browser needs (digest\n"
    "                            authentication, any user name); without it only\n"
    "                            this computer may change settings on the page\n"
    "      --serial TEXT         the serial number *IDN? and the LAN announcement\n"
    "                            give (default: made from /etc/machine-id, the\n"
    "                            same at every start and unique to the computer)\n"
    "  -V, --version             print the version and exit\n"
    "  -h, --help                print this help and exit\n"
    "\n"
    "See wavegen-scpi(1) for the commands and the error numbers.\n";

struct Options {
    std::string address = "127.0.0.1";
    unsigned short port = 5025;
    std::string device = "default";
    double fullScale = ScpiInstrument::kDefaultFullScale;
    AlsaPlaybackDevice::Queue queue = AlsaPlaybackDevice::kQuietQueue;
    std::string serial;  // "": this computer's
    bool http = true;
    bool httpGiven = false;   // --http given: a failure to serve it ends the server
    std::string httpAddress;  // "": the --listen address
    unsigned short httpPort = 0;
    std::string passwordFile;
};

// The queue in milliseconds, written in periods of a third of it.
bool ParseQueue(const std::string& text, AlsaPlaybackDevice::Queue& queue)
{
    constexpr unsigned kLeast = 20;
    constexpr unsigned kMost = AlsaPlaybackDevice::kQuietQueue.bufferMicroseconds / 1000;
    unsigned milliseconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), milliseconds);
    if (error != std::errc() || end != text.data() + text.size() || milliseconds < kLeast ||
        milliseconds > kMost) {
        return false;
    }
    queue = {milliseconds * 1000, milliseconds * 1000 / 3};
    return true;
}

int Usage(const std::string& reason)
{
    std::fprintf(stderr, "wavegen-scpi: %s\n%s", reason.c_str(), kUsage);
    return 2;
}

bool ParseListen(const std::string& text, std::string& address, unsigned short& port)
{
    const std::size_t colon = text.rfind(':');
    const std::string digits = colon == std::string::npos ? text : text.substr(colon + 1);
    if (colon != std::string::npos) {
        address = text.substr(0, colon);
    }
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    return error == std::errc() && end == digits.data() + digits.size();
}

// Returns -1 to go on, or the exit status.
int ParseArguments(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "-h" || argument == "--help") {
            std::fputs(kUsage, stdout);
            std::fputs("\n", stdout);
            std::fputs(kHelp, stdout);
            return std::fflush(stdout) == 0 ? 0 : 3;
        }
        if (argument == "-V" || argument == "--version") {
            std::puts("wavegen-scpi " WAVEGEN_VERSION);
            return std::fflush(stdout) == 0 ? 0 : 3;
        }
        if ((argument == "-l" || argument == "--listen") && hasValue) {
            if (!ParseListen(argv[++i], options.address, options.port)) {
                return Usage(std::string("--listen: not [ADDR:]PORT: ") + argv[i]);
            }
        } else if ((argument == "-D" || argument == "--device") && hasValue) {
            options.device = argv[++i];
        } else if (argument == "--full-scale" && hasValue) {
            const std::string value = argv[++i];
            double volts = 0.0;
            if (ParseNumber(value, volts, {{"V", 1.0}, {"VPP", 1.0}}) != 0 || !(volts > 0.0) ||
                !std::isfinite(volts)) {
                return Usage("--full-scale: not a voltage above 0: " + value);
            }
            options.fullScale = volts;
        } else if (argument == "--serial" && hasValue) {
            options.serial = argv[++i];
            if (!SerialNumber::Acceptable(options.serial)) {
                return Usage(
                    "--serial: not 1 to 32 printable characters without a space, comma, "
                    "quote or semicolon: " +
                    options.serial);
            }
        } else if (argument == "--http" && hasValue) {
            options.httpGiven = true;
            options.http = std::string(argv[++i]) != "off";
            if (options.http && !ParseListen(argv[i], options.httpAddress, options.httpPort)) {
                return Usage(std::string("--http: not [ADDR:]PORT or off: ") + argv[i]);
            }
        } else if (argument == "--password-file" && hasValue) {
            options.passwordFile = argv[++i];
        } else if (argument == "--queue" && hasValue) {
            if (!ParseQueue(argv[++i], options.queue)) {
                return Usage(
                    std::string("--queue: not a whole number of milliseconds from 20 to 90: ") +
                    argv[i]);
            }
        } else {
            return Usage("unknown or incomplete option " + argument);
        }
    }
    return -1;
}

// Connections that may wait to be taken; a burst of clients beyond it
// waits for the kernel's retries (a second or more).
constexpr int kBacklog = 128;

int Listen(const std::string& where, unsigned short port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (inet_pton(AF_INET, where.c_str(), &address.sin_addr) != 1) {
        errno = EINVAL;
        return -1;
    }
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
        bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, kBacklog) != 0) {
        const int error = errno;
        if (fd >= 0) {
            close(fd);
        }
        errno = error;
        return -1;
    }
    return fd;
}

// The interface that holds `address`, for the announcement; any for
// 0.0.0.0 (or one not found).
int InterfaceOf(const in_addr& address)
{
    int index = AVAHI_IF_UNSPEC;
    ifaddrs* list = nullptr;
    if (address.s_addr == htonl(INADDR_ANY) || getifaddrs(&list) != 0) {
        return index;
    }
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET &&
            reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr ==
                address.s_addr) {
            index = static_cast<int>(if_nametoindex(entry->ifa_name));
            break;
        }
    }
    freeifaddrs(list);
    return index;
}

void Warn(const std::string& what)
{
    std::fprintf(stderr, "wavegen-scpi: warning: %s\n", what.c_str());
}

// The password a change from another computer needs: the file's first
// line. Never shown: a failure names the file only.
bool ReadPassword(const std::string& path, std::string& password)
{
    std::FILE* file = std::fopen(path.c_str(), "re");
    if (file == nullptr) {
        std::fprintf(stderr, "wavegen-scpi: cannot read the password file %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return false;
    }
    struct stat status {};
    if (fstat(fileno(file), &status) == 0 && (status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        Warn("the password file " + path + " can be read by others; chmod 600 it");
    }
    char line[256] = {};
    const bool read = std::fgets(line, sizeof line, file) != nullptr;
    std::fclose(file);
    password = read ? line : "";
    while (!password.empty() && (password.back() == '\n' || password.back() == '\r')) {
        password.pop_back();
    }
    if (password.empty()) {
        std::fprintf(stderr,
                     "wavegen-scpi: the password file %s has no password in its first line\n",
                     path.c_str());
        return false;
    }
    return true;
}

// The web pages' socket: where --http says, or beside SCPI on port 80 if
// it may be bound, else 8080. -1 when there is none (said on stderr).
int ListenForWeb(const Options& options, std::string& address)
{
    address = options.httpAddress.empty() ? options.address : options.httpAddress;
    if (options.httpGiven) {
        const int fd = Listen(address, options.httpPort);
        if (fd < 0) {
            std::fprintf(stderr, "wavegen-scpi: cannot serve the web pages on %s:%u: %s\n",
                         address.c_str(), options.httpPort, std::strerror(errno));
        }
        return fd;
    }
    for (const unsigned short port :
         {static_cast<unsigned short>(80), static_cast<unsigned short>(8080)}) {
        if (const int fd = Listen(address, port); fd >= 0) {
            return fd;
        }
    }
    Warn("cannot serve the web pages on " + address + " port 80 or 8080 (" + std::strerror(errno) +
         "); SCPI still serves");
    return -1;
}

unsigned short PortOf(int fd)
{
    sockaddr_in bound{};
    socklen_t size = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &size);
    return ntohs(bound.sin_port);
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (const int status = ParseArguments(argc, argv, options); status >= 0) {
        return status;
    }
    // Read from a descriptor, before any thread starts, so every thread
    // inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&stopSignals, signal);
    }
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::string password;
    if (!options.passwordFile.empty() && !ReadPassword(options.passwordFile, password)) {
        return 1;
    }
    const int stopFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (stopFd < 0) {
        std::fprintf(stderr, "wavegen-scpi: cannot watch for stop signals (signalfd: %s)\n",
                     std::strerror(errno));
        return 1;
    }
    const int listenFd = Listen(options.address, options.port);
    if (listenFd < 0) {
        std::fprintf(stderr, "wavegen-scpi: cannot listen on %s:%u: %s\n", options.address.c_str(),
                     options.port, std::strerror(errno));
        return 1;
    }
    // (Port 0 lets the system choose one; this line says which.)
    sockaddr_in bound{};
    socklen_t boundSize = sizeof bound;
    getsockname(listenFd, reinterpret_cast<sockaddr*>(&bound), &boundSize);
    std::fprintf(stderr, "wavegen-scpi: listening on %s:%u, playing on PCM '%s'\n",
                 options.address.c_str(), ntohs(bound.sin_port), options.device.c_str());
    const bool onLan = !NetworkInterface::IsLoopback(bound.sin_addr);
    if (onLan) {
        std::fprintf(stderr,
                     "wavegen-scpi: warning: %s is not a loopback address; SCPI has no "
                     "authentication, so anyone who reaches this port or VXI-11 can drive the "
                     "output\n",
                     options.address.c_str());
    }
    // As a bench generator keeps its output on, a lost device is opened
    // again until the sound server is back (the loss is queued as -241).
    AlsaWaveOut device(options.device, AlsaWaveOut::OnLoss::Reopen);
    if (const std::string failure = device.SetupFailure(); !failure.empty()) {
        std::fprintf(stderr, "wavegen-scpi: %s\n", failure.c_str());
        return 1;
    }
    // A stop signal while an open waits gives the open up; the server then
    // reads the signal and ends.
    device.m_waitForOpen = AlsaWaveOut::CancelledBy(stopFd);
    device.m_queue = options.queue;
    if (options.serial.empty()) {
        options.serial = SerialNumber::OfThisComputer();
        if (options.serial.empty()) {
            Warn("cannot read /etc/machine-id, so the serial number is 0; give one with --serial");
            options.serial = "0";
        }
    }
    MonotonicTickSource ticks;
    ScpiInstrument instrument(device, ticks, options.fullScale, options.serial);
    std::vector<IPollSource*> sources;
    // VXI-11 beside the raw socket, on the same address; without it (or
    // without rpcbind to find it by) the raw socket still serves.
    Vxi11Server vxi11(instrument);
    if (const std::string failure = vxi11.Start(bound.sin_addr); !failure.empty()) {
        Warn(failure + "; the raw socket still serves");
    } else {
        sources.push_back(&vxi11);
        std::fprintf(stderr, "wavegen-scpi: VXI-11 on %s:%u\n", options.address.c_str(),
                     vxi11.CorePort());
        if (const std::string unregistered = vxi11.Register(); !unregistered.empty()) {
            Warn(unregistered + "; the raw socket still serves");
        }
    }
    std::fprintf(stderr, "wavegen-scpi: serial number %s; open it as", options.serial.c_str());
    const std::vector<NetworkInterface> interfaces = NetworkInterface::Serving(bound.sin_addr);
    for (const NetworkInterface& where : interfaces) {
        std::fprintf(stderr, " TCPIP::%s::%u::SOCKET", where.address.c_str(),
                     ntohs(bound.sin_port));
        if (vxi11.Registered()) {
            std::fprintf(stderr, " TCPIP::%s::INSTR", where.address.c_str());
        }
    }
    std::fputs("\n", stderr);
    // The web pages, on the same loop.
    std::string webAddress;
    const int webFd = options.http ? ListenForWeb(options, webAddress) : -1;
    if (webFd < 0 && options.httpGiven && options.http) {
        return 1;
    }
    const unsigned short webPort = webFd >= 0 ? PortOf(webFd) : 0;
    WebPanel panel(instrument,
                   {"wavegen", "wavegen-scpi", options.serial, WAVEGEN_VERSION,
                    "wavegen: a sound card's function generator, two channels"},
                   {NetworkInterface::HostName(), interfaces, ntohs(bound.sin_port), webPort,
                    vxi11.Registered()});
    WebServer web(panel, instrument, password);
    if (webFd >= 0) {
        if (const std::string failure = web.Start(webFd); !failure.empty()) {
            std::fprintf(stderr, "wavegen-scpi: %s\n", failure.c_str());
            return 1;
        }
        sources.push_back(&web);
        std::fprintf(stderr, "wavegen-scpi: web pages on http://%s:%u/ (front panel: /panel)\n",
                     webAddress.c_str(), webPort);
        if (!NetworkInterface::IsLoopback(webAddress)) {
            std::fprintf(stderr,
                         "wavegen-scpi: warning: %s is not a loopback address; anyone who "
                         "reaches port %u can read the web pages, and %s\n",
                         webAddress.c_str(), webPort,
                         password.empty() ? "no other computer can change a setting there "
                                            "(no --password-file)"
                                          : "can change settings with the password");
        }
    }
    // Found on the LAN by name: never from loopback.
    std::vector<LanAnnouncer::Service> services{{"_scpi-raw._tcp", ntohs(bound.sin_port), ""}};
    if (vxi11.Registered()) {
        services.push_back({"_vxi-11._tcp", 111, ""});  // (rpcbind's port, where clients ask)
    }
    if (webFd >= 0 && !NetworkInterface::IsLoopback(webAddress)) {
        services.push_back({"_lxi._tcp", webPort, ""});
        services.push_back({"_http._tcp", webPort, "path=/"});
    }
    LanAnnouncer announcer(InterfaceOf(bound.sin_addr), services,
                           {"wavegen", "wavegen-scpi", options.serial, WAVEGEN_VERSION});
    if (onLan) {
        announcer.Start();
        sources.push_back(&announcer);
    }
    ScpiServer server(instrument, listenFd, stopFd, device.ChangeDescriptor(), sources);
    const int status = server.Run();
    instrument.SwitchOff();
    close(listenFd);
    return status;
}
