// The Analysis window's three charts: Individuals, Moving Range and the
// histogram with its normal curve.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "analysis/live.h"
#include "analysisui/analysisui_internal.h"

namespace anaui {

namespace {

// colours of the pictures
const int kDataColor = 0x3060A0;
const int kCentreColor = 0x008000;
const int kControlColor = 0xD00000;
const int kToleranceColor = 0x0050FF;
const int kRuleColors[4] = {0xE00000, 0xFF8C00, 0xC000C0, 0x7030A0};
const char *const kRuleNames[4] = {
    "1: beyond 3\u03c3",
    "2: 2 of 3 beyond 2\u03c3",
    "3: 4 of 5 beyond 1\u03c3",
    "4: 8 on one side",
};
const int kCurvePoints = 200;

void Extend(double v, double *lo, double *hi) {
    if (!std::isfinite(v)) return;
    if (v < *lo) *lo = v;
    if (v > *hi) *hi = v;
}

void Pad(double *lo, double *hi) {
    double span = *hi - *lo;
    if (!(span > 0.0)) span = std::fabs(*hi) > 0 ? std::fabs(*hi) * 0.1 : 1.0;
    *lo -= 0.08 * span;
    *hi += 0.08 * span;
}

RtChartLine Line(int vertical, double at, int color, int style, double width,
                 const std::string &label) {
    RtChartLine l;
    l.vertical = vertical;
    l.at = at;
    l.color = color;
    l.style = style;
    l.width = width;
    l.label = label;
    return l;
}

// The tolerance lines; a limit far away from the data (more than the
// data's own span off) is left out of the range, or the data would shrink to
// a thin band: the returned text names it for the title.
std::string ToleranceLines(int vertical, std::vector<RtChartLine> *lines, double *lo, double *hi) {
    const int d = Decimals();
    const double span = std::max(*hi - *lo, Resolution());
    const double a = *lo - span, b = *hi + span;
    std::string away;
    const struct {
        int has;
        double at;
        const char *name;
    } limits[2] = {{g.lim.hasLsl, g.lim.lsl, "LSL"}, {g.lim.hasUsl, g.lim.usl, "USL"}};
    for (const auto &l : limits) {
        if (!l.has) continue;
        const std::string label = std::string(l.name) + " " + Num(l.at, d);
        lines->push_back(Line(vertical, l.at, kToleranceColor, RT_LINE_SOLID, 2.0, label));
        if (l.at >= a && l.at <= b) {
            Extend(l.at, lo, hi);
        } else {
            const char *where =
                vertical ? (l.at < a ? "left" : "right") : (l.at < a ? "below" : "above");
            away += (away.empty() ? "" : ", ") + label + " " + where;
        }
    }
    return away;
}

int64_t FirstNumber() { return g.source == SPC_SOURCE_LIVE ? AnaLiveDropped(&anaLive) + 1 : 1; }

}   // namespace

void DrawIndividuals() {
    const AnaResult &r = g.result;
    const size_t n = g.values.size();
    const int d = Decimals();
    RtChart c;
    c.title = "Individuals chart";
    if (r.ctl.has)
        c.title += "   (sigma within " + Num(r.ctl.sigma, d + 2) + " " + UnitName() +
                   " = mean moving range / 1.128)";
    c.xLabel = "sample";
    c.yLabel = std::string("value [") + UnitName() + "]";
    const double first = static_cast<double>(FirstNumber());
    RtChartSeries s;
    s.color = kDataColor;
    s.xStart = first;
    s.y = g.values;
    c.series.push_back(std::move(s));
    // each point in the colour of the first rule it breaks: one mark a point
    for (int k = 0; k < 4; ++k) {
        if (r.broken[k] == 0) continue;
        RtChartSeries p;
        p.kind = RT_SERIES_POINTS;
        p.color = kRuleColors[k];
        p.mark = k;   // and in a shape of its own: colour alone would not tell them apart
        p.width = 6.0;
        p.name = std::string(kRuleNames[k]) + " (" +
                 std::to_string(static_cast<long long>(r.broken[k])) + ")";
        const uint8_t mine = static_cast<uint8_t>(1 << k), lower = static_cast<uint8_t>(mine - 1);
        for (size_t i = 0; i < n; ++i)
            if ((r.flags[i] & mine) && !(r.flags[i] & lower)) {
                p.x.push_back(first + static_cast<double>(i));
                p.y.push_back(g.values[i]);
            }
        c.series.push_back(std::move(p));
    }
    c.legend = r.broken[0] + r.broken[1] + r.broken[2] + r.broken[3] > 0;
    double lo = r.sum.hasMean ? r.sum.min : 0.0, hi = r.sum.hasMean ? r.sum.max : 1.0;
    if (r.ctl.has) {
        c.lines.push_back(
            Line(0, r.ctl.cl, kCentreColor, RT_LINE_SOLID, 1.5, "CL " + Num(r.ctl.cl, d + 2)));
        c.lines.push_back(
            Line(0, r.ctl.ucl, kControlColor, RT_LINE_DASHED, 1.5, "UCL " + Num(r.ctl.ucl, d + 2)));
        c.lines.push_back(
            Line(0, r.ctl.lcl, kControlColor, RT_LINE_DASHED, 1.5, "LCL " + Num(r.ctl.lcl, d + 2)));
        Extend(r.ctl.ucl, &lo, &hi);
        Extend(r.ctl.lcl, &lo, &hi);
    }
    if (n == 0) c.empty = EmptyText();
    // without data there is nothing to place the limits against
    const std::string away = n > 0 ? ToleranceLines(0, &c.lines, &lo, &hi) : "";
    if (!away.empty()) c.title += "   [" + away + "]";
    Pad(&lo, &hi);
    c.yMin = lo;
    c.yMax = hi;
    c.xMin = first - 0.5;
    c.xMax = first + static_cast<double>(n > 1 ? n - 1 : 1) + 0.5;
    rt_DrawChart(pAnalysis, ANALYSIS_GRAPHSpcIndiv, c);
}

void DrawMovingRange() {
    const AnaResult &r = g.result;
    const size_t n = g.values.size();
    const int d = Decimals();
    RtChart c;
    c.title = "Moving Range chart";
    c.xLabel = "sample";
    c.yLabel = std::string("moving range [") + UnitName() + "]";
    const double first = static_cast<double>(FirstNumber());
    RtChartSeries s, above;
    s.color = kDataColor;
    above.kind = RT_SERIES_POINTS;
    above.color = kRuleColors[0];
    above.width = 6.0;
    double hi = 0.0;
    s.xStart = first + 1.0;
    if (n >= 2) {
        s.y.resize(n - 1);
        for (size_t i = 1; i < n; ++i) {
            const double mr = std::fabs(g.values[i] - g.values[i - 1]);
            s.y[i - 1] = mr;
            if (mr > hi) hi = mr;
            if (r.ctl.has && mr > r.ctl.mrUcl) {
                above.x.push_back(first + static_cast<double>(i));
                above.y.push_back(mr);
            }
        }
    }
    c.series.push_back(std::move(s));
    if (!above.x.empty()) {
        above.name = "above UCL (" + std::to_string(above.x.size()) + ")";
        c.series.push_back(std::move(above));
        c.legend = 1;
    }
    if (r.ctl.has) {
        c.lines.push_back(
            Line(0, r.ctl.mrCl, kCentreColor, RT_LINE_SOLID, 1.5, "CL " + Num(r.ctl.mrCl, d + 2)));
        c.lines.push_back(Line(0, r.ctl.mrUcl, kControlColor, RT_LINE_DASHED, 1.5,
                               "UCL " + Num(r.ctl.mrUcl, d + 2)));
        if (r.ctl.mrUcl > hi) hi = r.ctl.mrUcl;
    }
    if (n == 0) c.empty = EmptyText();
    c.yMin = 0.0;
    c.yMax = hi > 0.0 ? hi * 1.08 : 1.0;
    c.xMin = first - 0.5;
    c.xMax = first + static_cast<double>(n > 1 ? n - 1 : 1) + 0.5;
    rt_DrawChart(pAnalysis, ANALYSIS_GRAPHSpcMR, c);
}

namespace {

const char *RuleName(int rule) {
    switch (rule) {
    case ANA_BINS_FD: return "Freedman-Diaconis";
    case ANA_BINS_SCOTT: return "Scott, the IQR being 0";
    case ANA_BINS_SINGLE: return "one step, sigma being 0";
    default: return "entered";
    }
}

}   // namespace

void DrawHistogram() {
    const AnaResult &r = g.result;
    const AnaHistogram &h = r.hist;
    const int d = Decimals();
    RtChart c;
    c.xLabel = std::string("value [") + UnitName() + "]";
    c.yLabel = "count";
    c.title = "Histogram";
    if (!h.counts.empty()) {
        c.title += "   (bin width " + Num(h.width, d) + " " + UnitName() + ", " + RuleName(h.rule) +
                   (h.widened ? ", widened to " + std::to_string(ANA_MAX_BINS) + " bins" : "") +
                   ")";
    }
    RtChartSeries b;
    b.kind = RT_SERIES_BARS;
    b.color = kDataColor;
    b.barWidth = h.width;
    double lo = 0.0, hi = 1.0, top = 1.0;
    if (!h.counts.empty()) {
        lo = h.first;
        hi = h.first + h.width * static_cast<double>(h.counts.size());
        for (size_t k = 0; k < h.counts.size(); ++k) {
            b.x.push_back(h.first + (static_cast<double>(k) + 0.5) * h.width);
            b.y.push_back(static_cast<double>(h.counts[k]));
            if (b.y.back() > top) top = b.y.back();
        }
    }
    c.series.push_back(std::move(b));
    if (r.sum.hasSigma && r.sum.sigmaOverall > 0.0) {
        const double m = r.sum.mean, s = r.sum.sigmaOverall;
        double a = std::min(lo, m - 4.0 * s), z = std::max(hi, m + 4.0 * s);
        RtChartSeries curve;
        curve.color = kControlColor;
        curve.width = 2.0;
        curve.name = "normal, sigma overall " + Num(s, d + 2);
        const double scale = static_cast<double>(r.sum.n) * h.width / s;
        for (int i = 0; i <= kCurvePoints; ++i) {
            const double x = a + (z - a) * i / kCurvePoints;
            curve.x.push_back(x);
            curve.y.push_back(scale * AnaNormalPdf((x - m) / s));
        }
        top = std::max(top, scale * AnaNormalPdf(0.0));
        lo = std::min(lo, m - 3.5 * s);
        hi = std::max(hi, m + 3.5 * s);
        c.series.push_back(std::move(curve));
        c.legend = 1;
    }
    if (r.sum.hasMean) {
        // at the foot of its line: the tolerance labels sit at the top
        c.lines.push_back(Line(1, r.sum.mean, kCentreColor, RT_LINE_DASHED, 1.5,
                               "mean " + Num(r.sum.mean, d + 2)));
        c.lines.back().labelOtherEnd = 1;
    }
    if (h.counts.empty()) c.empty = EmptyText();
    const std::string away = h.counts.empty() ? "" : ToleranceLines(1, &c.lines, &lo, &hi);
    if (!away.empty()) c.title += "   [" + away + "]";
    Pad(&lo, &hi);
    c.xMin = lo;
    c.xMax = hi;
    c.yMin = 0.0;
    c.yMax = top * 1.12;
    rt_DrawChart(pAnalysis, ANALYSIS_GRAPHSpcHist, c);
}

}   // namespace anaui
