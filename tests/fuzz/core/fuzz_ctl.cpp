// kvex-ctl's own text parsing: the broker address and the credentials
// line. What is accepted makes sense to libmosquitto; the accepted
// address, written again, reads the same.
#include <cstdlib>
#include <string>

#include "ctl/ctl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);

    std::string host;
    int port = -1;
    if (ctl::ParseUrl(text, host, port)) {
        if (port < 1 || port > 65535 || host.empty()) abort();
        if (host.find_first_of("/@") != std::string::npos) abort();
        if (text.compare(0, 7, "mqtt://") != 0) abort();
        std::string h2;
        int p2 = -1;
        if (!ctl::ParseUrl("mqtt://" + host + ":" + std::to_string(port), h2, p2)) abort();
        if (h2 != host || p2 != port) abort();
    }

    std::string user, pass;
    if (ctl::ParseCredentials(text, user, pass)) {
        if (user.find(':') != std::string::npos) abort();
        if (user.find('\n') != std::string::npos || pass.find('\n') != std::string::npos) abort();
        std::string u2, p2;
        if (!ctl::ParseCredentials(user + ":" + pass + "\n", u2, p2) || u2 != user || p2 != pass)
            abort();
    }
    return 0;
}
