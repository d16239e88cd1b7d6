// The configuration file of serve: KEY = VALUE lines, one per option, read
// into the arguments they stand for.
#include <cctype>

#include "ctl/ctl.h"

namespace ctl {

namespace {

std::string Trim(const std::string &s) {
    size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return s.substr(a, b - a);
}

}   // namespace

bool ConfigArgs(const std::string &name, const std::string &text,
                const std::function<ConfigKey(const std::string &)> &kind,
                std::vector<std::string> &args, std::string &err) {
    size_t from = 0;
    for (int lineNo = 1; from < text.size(); ++lineNo) {
        size_t end = text.find('\n', from);
        if (end == std::string::npos) end = text.size();
        const std::string line = Trim(text.substr(from, end - from));
        from = end + 1;
        const std::string where = name + ":" + std::to_string(lineNo) + ": ";
        // a NUL would cut the value short wherever it is read as C text
        if (line.find('\0') != std::string::npos) {
            err = where + "a NUL byte in the line";
            return false;
        }
        if (line.empty() || line[0] == '#' || line[0] == ';' || line == "[serve]") continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) {
            err = where + "not KEY = VALUE: " + line;
            return false;
        }
        const std::string key = Trim(line.substr(0, eq));
        std::string value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
            value = value.substr(1, value.size() - 2);
        switch (kind(key)) {
        case ConfigKey::Unknown: err = where + "unknown key \"" + key + "\""; return false;
        case ConfigKey::Given: break;   // the command line wins
        case ConfigKey::Flag:
            if (value == "true" || value == "yes" || value == "1") args.push_back("--" + key);
            else if (value != "false" && value != "no" && value != "0") {
                err = where + key + " is true or false, not \"" + value + "\"";
                return false;
            }
            break;
        case ConfigKey::Value:
            args.push_back("--" + key);
            args.push_back(value);
            break;
        }
    }
    return true;
}

}   // namespace ctl
