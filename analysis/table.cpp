// The capability table as text (see table.h).
#include "analysis/table.h"

#include <charconv>
#include <cmath>
#include <cstdio>

std::string AnaNumber(int defined, double value, int decimals) {
    if (!defined || !std::isfinite(value)) return "n/a";
    char buf[64];
    std::to_chars_result r;
    if (std::fabs(value) >= 1e9)
        r = std::to_chars(buf, buf + sizeof buf - 1, value, std::chars_format::general, 6);
    else r = std::to_chars(buf, buf + sizeof buf - 1, value, std::chars_format::fixed, decimals);
    if (r.ec != std::errc()) return "n/a";
    std::string s(buf, r.ptr);
    if (s == "-0" || s.find_first_not_of("-0.") == std::string::npos) {
        // no "-0.000"
        if (!s.empty() && s[0] == '-') s.erase(0, 1);
    }
    return s;
}

std::vector<AnaRow> AnaCapabilityRows(const AnaCapability *c, const AnaLimits *lim,
                                      const char *unit, int decimals) {
    std::vector<AnaRow> rows;
    const std::string u = unit ? unit : "";
    auto add = [&rows](const std::string &n, const std::string &v) { rows.push_back({n, v}); };
    add("n", std::to_string(static_cast<long long>(c->n)));
    add("LSL [" + u + "]", AnaNumber(lim->hasLsl, lim->lsl, decimals));
    add("USL [" + u + "]", AnaNumber(lim->hasUsl, lim->usl, decimals));
    add("mean [" + u + "]", AnaNumber(c->hasMean, c->mean, decimals + 2));
    add("sigma within [" + u + "]", AnaNumber(c->hasSigmaWithin, c->sigmaWithin, decimals + 2));
    add("sigma overall [" + u + "]", AnaNumber(c->hasSigmaOverall, c->sigmaOverall, decimals + 2));
    add("Cp", AnaNumber(c->hasCp, c->cp, 2));
    add("Cpk", AnaNumber(c->hasCpk, c->cpk, 2));
    add("Pp", AnaNumber(c->hasPp, c->pp, 2));
    add("Ppk", AnaNumber(c->hasPpk, c->ppk, 2));
    add("ppm outside, observed", AnaNumber(c->hasPpmObserved, c->ppmObserved, 0));
    add("ppm outside, expected within", AnaNumber(c->hasPpmWithin, c->ppmWithin, 0));
    add("ppm outside, expected overall", AnaNumber(c->hasPpmOverall, c->ppmOverall, 0));
    return rows;
}

std::string AnaRowsText(const std::vector<AnaRow> &rows) {
    size_t w = 0;
    for (const AnaRow &r : rows) w = r.name.size() > w ? r.name.size() : w;
    std::string out;
    for (const AnaRow &r : rows) {
        out += r.name;
        out.append(w + 2 - r.name.size(), ' ');
        out += r.value;
        out += '\n';
    }
    return out;
}
