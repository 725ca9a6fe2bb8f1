#include "NetworkInterface.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

std::string Dotted(const in_addr& address)
{
    char text[INET_ADDRSTRLEN] = "0.0.0.0";
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

std::string MacOf(const std::string& interface)
{
    std::ifstream file("/sys/class/net/" + interface + "/address");
    std::string mac;
    if (!(file >> mac) || mac.size() != 17) {
        return "00:00:00:00:00:00";
    }
    for (char& c : mac) {
        c = static_cast<char>(c >= 'a' && c <= 'f' ? c - 'a' + 'A' : c);
    }
    return mac;
}

// The default route's gateway through `interface`, from the kernel's
// routing table (addresses in hexadecimal, in the machine's byte order).
std::string GatewayOf(const std::string& interface)
{
    std::ifstream table("/proc/net/route");
    std::string line;
    std::getline(table, line);  // (the heading)
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string name;
        unsigned long destination = 0, gateway = 0;
        if (fields >> name >> std::hex >> destination >> gateway && name == interface &&
            destination == 0) {
            in_addr address{};
            address.s_addr = static_cast<in_addr_t>(gateway);
            return Dotted(address);
        }
    }
    return "0.0.0.0";
}

}  // namespace

std::vector<NetworkInterface> NetworkInterface::Serving(const in_addr& listen)
{
    std::vector<NetworkInterface> found;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
        for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
            if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET ||
                (entry->ifa_flags & IFF_UP) == 0) {
                continue;
            }
            const in_addr address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr;
            if (listen.s_addr != htonl(INADDR_ANY) && address.s_addr != listen.s_addr) {
                continue;
            }
            const in_addr mask =
                entry->ifa_netmask != nullptr
                    ? reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr
                    : in_addr{};
            found.push_back({entry->ifa_name, Dotted(address), Dotted(mask), MacOf(entry->ifa_name),
                             GatewayOf(entry->ifa_name)});
        }
        freeifaddrs(list);
    }
    if (found.empty()) {
        found.push_back({"", Dotted(listen), "0.0.0.0", "00:00:00:00:00:00", "0.0.0.0"});
    }
    return found;
}

bool NetworkInterface::IsLoopback(const in_addr& address)
{
    return (ntohl(address.s_addr) >> 24) == 127;
}

bool NetworkInterface::IsLoopback(const std::string& dotted)
{
    in_addr address{};
    return inet_pton(AF_INET, dotted.c_str(), &address) == 1 && IsLoopback(address);
}

std::string NetworkInterface::HostName()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return "localhost";
    }
    return name;
}
