// The broker's address and the credentials line: plain text parsing, kept
// apart from libmosquitto so that it can be tested and fuzzed on its own.
#include <cstdlib>

#include "ctl/ctl.h"

namespace ctl {

bool ParseUrl(const std::string &url, std::string &host, int &port) {
    const std::string scheme = "mqtt://";
    if (url.compare(0, scheme.size(), scheme) != 0) return false;
    std::string rest = url.substr(scheme.size());
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    port = 1883;
    const size_t colon = rest.rfind(':');
    if (colon != std::string::npos) {
        const std::string p = rest.substr(colon + 1);
        rest = rest.substr(0, colon);
        if (p.empty() || p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos)
            return false;
        port = std::atoi(p.c_str());
        if (port < 1 || port > 65535) return false;
    }
    host = rest;
    return !host.empty() && host.find_first_of("/@") == std::string::npos;
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
