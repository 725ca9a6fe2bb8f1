#pragma once

#include <netinet/in.h>

#include <string>
#include <vector>

// An IPv4 interface the instrument is reached on, as its LXI identity
// describes it.
struct NetworkInterface {
    std::string name;     // "eth0"
    std::string address;  // "192.168.1.20"
    std::string mask;     // "255.255.255.0"
    std::string mac;      // "02:00:00:00:00:01" ("00:00:00:00:00:00" for loopback)
    std::string gateway;  // the default route's through it, or "0.0.0.0"

    // The interfaces that serve `listen`: the one that holds it, or each
    // that is up for 0.0.0.0. An address no interface holds is given alone.
    static std::vector<NetworkInterface> Serving(const in_addr& listen);
    // Whether an address is in 127.0.0.0/8; a text that is no IPv4
    // address is not.
    static bool IsLoopback(const in_addr& address);
    static bool IsLoopback(const std::string& dotted);
    // The computer's host name.
    static std::string HostName();
};
