// The broker's address, the topic prefix and the credentials line: plain
// text parsing, kept apart from libmosquitto so that it can be tested and
// fuzzed on its own.
#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>

#include "ctl/ctl.h"
#include "lines/net_line.h"

namespace ctl {

bool ParseUrl(const std::string &url, BrokerUrl &out) {
    std::string rest;
    if (url.compare(0, 7, "mqtt://") == 0) {
        out.tls = false;
        out.port = 1883;
        rest = url.substr(7);
    } else if (url.compare(0, 8, "mqtts://") == 0) {
        out.tls = true;
        out.port = 8883;
        rest = url.substr(8);
    } else {
        return false;
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    std::string portText;
    if (!lines::SplitHostPort(rest, out.host, portText, true)) return false;
    // the reader has checked the digits and the range; a broker has no port 0
    if (!portText.empty()) out.port = std::atoi(portText.c_str());
    return out.port >= 1;
}

std::string UrlText(const BrokerUrl &u) {
    const bool v6 = u.host.find(':') != std::string::npos;
    return std::string(u.tls ? "mqtts://" : "mqtt://") + (v6 ? "[" + u.host + "]" : u.host) + ":" +
           std::to_string(u.port);
}

bool IsLoopback(const std::string &host) {
    in_addr a4;
    in6_addr a6;
    if (inet_pton(AF_INET, host.c_str(), &a4) == 1) return (ntohl(a4.s_addr) >> 24) == 127;
    if (inet_pton(AF_INET6, host.c_str(), &a6) == 1) {
        if (IN6_IS_ADDR_LOOPBACK(&a6)) return true;
        return IN6_IS_ADDR_V4MAPPED(&a6) && a6.s6_addr[12] == 127;
    }
    return strcasecmp(host.c_str(), "localhost") == 0;
}

std::string TopicPrefixProblem(const std::string &t) {
    if (t.empty()) return "the topic prefix is empty";
    if (t.find_first_of("+#") != std::string::npos)
        return "a topic with a wildcard (+ or #) cannot be published to";
    if (t[0] == '/') return "a leading / makes an empty first level";
    if (t.find("//") != std::string::npos || t.back() == '/') return "an empty level (//)";
    if (t[0] == '$') return "topics starting with $ belong to the broker";
    if (t.find('\0') != std::string::npos) return "a NUL byte";
    // the longest leaf and its slash must still fit the protocol's 65535
    if (t.size() > 60000) return "longer than 60000 bytes";
    return "";
}

bool ParseCredentials(std::string text, std::string &user, std::string &pass) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const size_t colon = text.find(':');
    if (colon == std::string::npos || text.find('\n') != std::string::npos) return false;
    user = text.substr(0, colon);
    pass = text.substr(colon + 1);
    return true;
}

}   // namespace ctl
