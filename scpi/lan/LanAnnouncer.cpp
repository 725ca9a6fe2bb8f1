#include "LanAnnouncer.h"

#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/timeval.h>

#include <algorithm>
#include <cstdio>

// The Avahi poll API's objects, which it leaves to the poll loop to define.
struct AvahiWatch {
    int fd;
    AvahiWatchEvent events;
    AvahiWatchEvent happened;
    AvahiWatchCallback callback;
    void* userdata;
    bool dead;
};

struct AvahiTimeout {
    bool armed;
    timeval when;
    AvahiTimeoutCallback callback;
    void* userdata;
    bool dead;
};

LanAnnouncer::LanAnnouncer(int interfaceIndex, std::vector<Service> services, Identity identity)
    : m_interface(interfaceIndex),
      m_services(std::move(services)),
      m_identity(std::move(identity)),
      m_name(m_identity.manufacturer + " " + m_identity.model)
{
    m_poll.userdata = this;
    m_poll.watch_new = [](const AvahiPoll* api, int fd, AvahiWatchEvent events,
                          AvahiWatchCallback callback, void* userdata) -> AvahiWatch* {
        auto* self = static_cast<LanAnnouncer*>(api->userdata);
        self->m_watches.push_back(std::make_unique<AvahiWatch>(
            AvahiWatch{fd, events, AvahiWatchEvent(0), callback, userdata, false}));
        return self->m_watches.back().get();
    };
    m_poll.watch_update = [](AvahiWatch* watch, AvahiWatchEvent events) { watch->events = events; };
    m_poll.watch_get_events = [](AvahiWatch* watch) { return watch->happened; };
    m_poll.watch_free = [](AvahiWatch* watch) { watch->dead = true; };
    m_poll.timeout_new = [](const AvahiPoll* api, const timeval* when,
                            AvahiTimeoutCallback callback, void* userdata) -> AvahiTimeout* {
        auto* self = static_cast<LanAnnouncer*>(api->userdata);
        self->m_timeouts.push_back(std::make_unique<AvahiTimeout>(AvahiTimeout{
            when != nullptr, when != nullptr ? *when : timeval{}, callback, userdata, false}));
        return self->m_timeouts.back().get();
    };
    m_poll.timeout_update = [](AvahiTimeout* timeout, const timeval* when) {
        timeout->armed = when != nullptr;
        if (when != nullptr) {
            timeout->when = *when;
        }
    };
    m_poll.timeout_free = [](AvahiTimeout* timeout) { timeout->dead = true; };
}

LanAnnouncer::~LanAnnouncer()
{
    if (m_client != nullptr) {
        avahi_client_free(m_client);  // (withdraws what it announced)
    }
}

void LanAnnouncer::Start()
{
    Connect();
}

// (NO_FAIL: a daemon that is not running yet, or goes away, is waited for
// on the system bus, and the services announced once it is there; with no
// bus to wait on, it is tried again every kRetry)
void LanAnnouncer::Connect()
{
    int error = 0;
    m_client = avahi_client_new(&m_poll, AVAHI_CLIENT_NO_FAIL, OnClientState, this, &error);
    if (m_client == nullptr) {
        Warn("avahi-daemon does not answer; the instrument is announced on the LAN once it does",
             error);
        m_retryAt = std::chrono::steady_clock::now() + kRetry;
    }
}

void LanAnnouncer::Warn(const std::string& what, int error)
{
    if (!m_warned) {
        std::fprintf(stderr, "wavegen-scpi: warning: %s (%s)\n", what.c_str(),
                     avahi_strerror(error));
        m_warned = true;
    }
}

void LanAnnouncer::OnClientState(AvahiClient* client, AvahiClientState state, void* self)
{
    auto& announcer = *static_cast<LanAnnouncer*>(self);
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
        announcer.m_warned = false;  // the next trouble is news
        announcer.Publish(client);
        break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
        // The host's own name changes: announced again once it runs.
        if (announcer.m_group != nullptr) {
            avahi_entry_group_reset(announcer.m_group);
        }
        break;
    case AVAHI_CLIENT_CONNECTING:
        announcer.Warn(
            "avahi-daemon does not answer; the instrument is announced on the LAN "
            "once it does",
            AVAHI_ERR_NO_DAEMON);
        break;
    case AVAHI_CLIENT_FAILURE:
        announcer.Reconnect(client);
        break;
    }
}

// The daemon went away (restarted, or stopped): a new client waits for it.
void LanAnnouncer::Reconnect(AvahiClient* failed)
{
    Warn("lost avahi-daemon; the instrument is announced again once it is back",
         avahi_client_errno(failed));
    m_group = nullptr;  // (freed with its client)
    avahi_client_free(failed);
    m_client = nullptr;
    Connect();
}

void LanAnnouncer::OnGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self)
{
    auto& announcer = *static_cast<LanAnnouncer*>(self);
    if (state == AVAHI_ENTRY_GROUP_COLLISION) {
        // Another device has the name on the network: every service moves
        // to the next one together.
        if (announcer.Rename()) {
            announcer.Publish(avahi_entry_group_get_client(group));
        }
    } else if (state == AVAHI_ENTRY_GROUP_FAILURE) {
        announcer.Warn("avahi-daemon refused the announcement",
                       avahi_client_errno(avahi_entry_group_get_client(group)));
    }
}

bool LanAnnouncer::Rename()
{
    char* next = avahi_alternative_service_name(m_name.c_str());
    if (next == nullptr) {
        Warn("no other name to announce the instrument under", AVAHI_ERR_NO_MEMORY);
        return false;
    }
    m_name = next;
    avahi_free(next);
    std::fprintf(stderr, "wavegen-scpi: the name is taken on the LAN; announced as \"%s\"\n",
                 m_name.c_str());
    return true;
}

// Every service under the one name: a name taken for any of them moves
// them all to the next name.
void LanAnnouncer::Publish(AvahiClient* client)
{
    if (m_group == nullptr) {
        m_group = avahi_entry_group_new(client, OnGroupState, this);
        if (m_group == nullptr) {
            Warn("avahi-daemon refused the announcement", avahi_client_errno(client));
            return;
        }
    }
    for (int tries = 0; tries < kMostRenames; ++tries) {
        const int added = AddServices();
        if (added == AVAHI_ERR_COLLISION) {
            if (!Rename()) {
                return;
            }
            continue;
        }
        if (added < 0) {
            Warn("avahi-daemon refused the announcement", added);
            return;
        }
        if (const int committed = avahi_entry_group_commit(m_group); committed < 0) {
            Warn("avahi-daemon refused the announcement", committed);
        }
        return;
    }
    Warn("every name tried is taken on the LAN", AVAHI_ERR_COLLISION);
}

int LanAnnouncer::AddServices()
{
    avahi_entry_group_reset(m_group);
    AvahiStringList* keys = avahi_string_list_new(
        "txtvers=1", ("Manufacturer=" + m_identity.manufacturer).c_str(),
        ("Model=" + m_identity.model).c_str(), ("SerialNumber=" + m_identity.serial).c_str(),
        ("FirmwareVersion=" + m_identity.firmware).c_str(), nullptr);
    int added = 0;
    for (const Service& service : m_services) {
        AvahiStringList* own =
            service.key.empty()
                ? keys
                : avahi_string_list_add(avahi_string_list_copy(keys), service.key.c_str());
        added = avahi_entry_group_add_service_strlst(
            m_group, m_interface, AVAHI_PROTO_INET, AvahiPublishFlags(0), m_name.c_str(),
            service.type.c_str(), nullptr, nullptr, service.port, own);
        if (own != keys) {
            avahi_string_list_free(own);
        }
        if (added < 0) {
            break;
        }
    }
    avahi_string_list_free(keys);
    return added;
}

void LanAnnouncer::AddDescriptors(std::vector<pollfd>& fds)
{
    m_polled.clear();
    for (const auto& watch : m_watches) {
        if (!watch->dead) {
            fds.push_back({watch->fd, static_cast<short>(watch->events), 0});
            m_polled.push_back(watch.get());
        }
    }
}

int LanAnnouncer::TimeoutMs() const
{
    long soonest = -1;
    if (m_client == nullptr) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            m_retryAt - std::chrono::steady_clock::now());
        soonest = std::max<long>(left.count(), 0);
    }
    for (const auto& timeout : m_timeouts) {
        if (!timeout->dead && timeout->armed) {
            const AvahiUsec left = -avahi_age(&timeout->when);
            const long ms = left <= 0 ? 0 : static_cast<long>((left + 999) / 1000);
            soonest = soonest < 0 ? ms : std::min(soonest, ms);
        }
    }
    return static_cast<int>(std::min<long>(soonest, 1L << 30));
}

void LanAnnouncer::Dispatch(const pollfd* fds, std::size_t count)
{
    if (m_client == nullptr && std::chrono::steady_clock::now() >= m_retryAt) {
        Connect();
    }
    // (a callback may add or free watches and timeouts: a freed one is only
    // marked, and swept once every callback has run)
    const std::vector<AvahiWatch*> polled = m_polled;
    for (std::size_t i = 0; i < count && i < polled.size(); ++i) {
        AvahiWatch* watch = polled[i];
        if (!watch->dead && fds[i].revents != 0) {
            watch->happened = static_cast<AvahiWatchEvent>(fds[i].revents);
            watch->callback(watch, watch->fd, watch->happened, watch->userdata);
            watch->happened = AvahiWatchEvent(0);
        }
    }
    for (std::size_t i = 0; i < m_timeouts.size(); ++i) {
        AvahiTimeout* timeout = m_timeouts[i].get();
        if (!timeout->dead && timeout->armed && avahi_age(&timeout->when) >= 0) {
            timeout->armed = false;
            timeout->callback(timeout, timeout->userdata);
        }
    }
    Sweep();
}

void LanAnnouncer::Sweep()
{
    std::erase_if(m_watches, [](const auto& watch) { return watch->dead; });
    std::erase_if(m_timeouts, [](const auto& timeout) { return timeout->dead; });
}
