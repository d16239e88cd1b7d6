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
    const AnaIndex &w = c->within, &o = c->overall;
    const char *ppm = "ppm outside";
    if (c->limits == ANA_LIMITS_LOWER) {
        add("Cpl", AnaNumber(w.hasPl, w.pl, 2));
        add("Ppl", AnaNumber(o.hasPl, o.pl, 2));
        ppm = "ppm below LSL";
    } else if (c->limits == ANA_LIMITS_UPPER) {
        add("Cpu", AnaNumber(w.hasPu, w.pu, 2));
        add("Ppu", AnaNumber(o.hasPu, o.pu, 2));
        ppm = "ppm above USL";
    } else {
        add("Cp", AnaNumber(w.hasP, w.p, 2));
        add("Cpk", AnaNumber(w.hasPk, w.pk, 2));
        add("Pp", AnaNumber(o.hasP, o.p, 2));
        add("Ppk", AnaNumber(o.hasPk, o.pk, 2));
    }
    const std::string p = ppm;
    add(p + ", observed", AnaNumber(c->hasPpmObserved, c->ppmObserved, 0));
    add(p + ", expected within", AnaNumber(c->hasPpmWithin, c->ppmWithin, 0));
    add(p + ", expected overall", AnaNumber(c->hasPpmOverall, c->ppmOverall, 0));
    return rows;
}

std::string AnaResolutionNote(const AnaSummary *s, const AnaResolution *r, double resolution,
                              const char *unit, int decimals) {
    if (!r->known || !r->coarse) return "";
    const std::string u = unit ? unit : "";
    const long long k = static_cast<long long>(r->steps);
    return "Resolution too coarse for this spread: " + std::to_string(k) + " possible value" +
           (k == 1 ? "" : "s") + " within the natural process limits, mean moving range " +
           AnaNumber(1, s->mrBar, decimals + 2) + " " + u + " against a step of " +
           AnaNumber(1, resolution, decimals) + " " + u + "; run rules 2 to 4 not applied";
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
