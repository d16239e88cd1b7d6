// kvex-ctl's own text parsing: the broker address, the topic prefix and
// the credentials line. What is accepted makes sense to libmosquitto; the
// accepted address, written again, reads the same.
#include <cstdlib>
#include <string>

#include "ctl/ctl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);

    ctl::BrokerUrl u;
    if (ctl::ParseUrl(text, u)) {
        if (u.port < 1 || u.port > 65535 || u.host.empty()) abort();
        if (u.host.find_first_of("/@[] ") != std::string::npos) abort();
        if (text.compare(0, u.tls ? 8 : 7, u.tls ? "mqtts://" : "mqtt://") != 0) abort();
        ctl::BrokerUrl again;
        if (!ctl::ParseUrl(ctl::UrlText(u), again)) abort();
        if (again.host != u.host || again.port != u.port || again.tls != u.tls) abort();
    }

    const std::string problem = ctl::TopicPrefixProblem(text);
    if (problem.empty() &&
        (text.empty() || text.find_first_of("+#") != std::string::npos || text[0] == '/' ||
         text.back() == '/' || text.find("//") != std::string::npos))
        abort();

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
