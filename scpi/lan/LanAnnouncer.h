#pragma once

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/watch.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "IPollSource.h"

// Announces the instrument on the LAN through the system's avahi-daemon:
// its raw SCPI port as _scpi-raw._tcp, VXI-11 as _vxi-11._tcp (port 111)
// when rpcbind knows it, and its web pages as _lxi._tcp and _http._tcp,
// each with the LXI keys of its identity. The
// daemon's connection is served from the instrument server's poll loop
// (this class is the Avahi poll API over it). A name taken on the network
// moves every service to Avahi's next alternative together; a daemon that
// is not running yet, or goes away (a restart), is said once on standard
// error and waited for, and the services are announced once it is there.
class LanAnnouncer : public IPollSource {
public:
    static constexpr int kMostRenames = 20;
    static constexpr std::chrono::seconds kRetry{5};

    struct Service {
        std::string type;  // "_scpi-raw._tcp"
        unsigned short port = 0;
        std::string key;  // a TXT key of this service's alone ("path=/"), or ""
    };
    struct Identity {
        std::string manufacturer, model, serial, firmware;
    };

    // interfaceIndex: the one interface to announce on, or AVAHI_IF_UNSPEC.
    LanAnnouncer(int interfaceIndex, std::vector<Service> services, Identity identity);
    ~LanAnnouncer() override;
    LanAnnouncer(const LanAnnouncer&) = delete;
    LanAnnouncer& operator=(const LanAnnouncer&) = delete;

    // Connects to the daemon, or keeps trying (saying so once).
    void Start();

    void AddDescriptors(std::vector<pollfd>& fds) override;
    int TimeoutMs() const override;
    void Dispatch(const pollfd* fds, std::size_t count) override;

private:
    static void OnClientState(AvahiClient* client, AvahiClientState state, void* self);
    static void OnGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self);
    void Publish(AvahiClient* client);
    int AddServices();
    bool Rename();
    void Connect();
    void Reconnect(AvahiClient* failed);
    void Warn(const std::string& what, int error);
    void Sweep();

    AvahiPoll m_poll{};
    AvahiClient* m_client = nullptr;
    AvahiEntryGroup* m_group = nullptr;
    const int m_interface;
    const std::vector<Service> m_services;
    const Identity m_identity;
    std::string m_name;
    bool m_warned = false;
    std::chrono::steady_clock::time_point m_retryAt;
    // The poll API's objects (defined by the implementation).
    std::vector<std::unique_ptr<AvahiWatch>> m_watches;
    std::vector<std::unique_ptr<AvahiTimeout>> m_timeouts;
    std::vector<AvahiWatch*> m_polled;  // the watches of the last AddDescriptors
};
