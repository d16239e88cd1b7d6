// Measurement bar graph, numeric displays and the strip chart history.
#include "display/display.h"

#include <cstring>

#include "ui/panels.h"
#include "params/vars.h"

enum { SHIFT_ERR_COUNT = -20003, SHIFT_ERR_RANGE = -20102 };

int Copy1D(const double *input, int count, double *output) {
    if (count <= 0) return SHIFT_ERR_COUNT;
    if (input != output) std::memmove(output, input, static_cast<size_t>(count) * sizeof(double));
    return 0;
}

int Shift(const double *input, int count, int shift, double *output) {
    if (count <= 0) return SHIFT_ERR_COUNT;
    long long mag = shift < 0 ? -static_cast<long long>(shift) : shift;
    if (mag >= count) return SHIFT_ERR_RANGE;
    if (shift == 0) return Copy1D(input, count, output);
    int s = static_cast<int>(mag);
    if (shift < 0) {
        // towards lower indices: copy upwards so an in-place shift reads
        // each element before it is overwritten
        for (int i = 0; i < count - s; ++i) output[i] = input[i + s];
        for (int i = count - s; i < count; ++i) output[i] = 0.0;
    } else {
        for (int i = count - 1; i >= s; --i) output[i] = input[i - s];
        for (int i = 0; i < s; ++i) output[i] = 0.0;
    }
    return 0;
}

// Not by colour alone: out of tolerance the value is also bold, its
// tooltip (what a screen reader reads with it) says where it is, and so
// does a note on the bar graph.
static void ShowToleranceInWords(const proto::Band &band, int value) {
    const int where = value < band.lower ? -1 : value > band.upper ? 1 : 0;
    static int shownWhere = 2, shownPanel = -1;
    if (where == shownWhere && shownPanel == pHandle) return;
    shownWhere = where;
    shownPanel = pHandle;
    const char *text = where < 0   ? "Out of tolerance: below set-point - tolerance"
                       : where > 0 ? "Out of tolerance: above set-point + tolerance"
                                   : "In tolerance";
    for (int control : {PANEL_NUMMvalue, PANEL_NUMMvalueMm}) {
        SetCtrlAttribute(pHandle, control, ATTR_TEXT_BOLD, where != 0);
        rt_SetToolTip(pHandle, control, text);
    }
    rt_SetGraphNote(pHandle, PANEL_GRAPHBar, text);
}

void PlotVIDEOBarGraph(void) {
    const int vp = ccdvirtpixel;

    // reference position
    uint16_t r;
    if (eMode == 0) {
        r = Ledge;
    } else if (eMode == 1) {
        r = Redge;
    } else if (Ledge == 0 || Redge == 0) {
        r = 1;
    } else {
        r = static_cast<uint16_t>((static_cast<int>(Ledge) + Redge) / 2);
    }

    // tolerance colour; a value on a bound is inside
    const proto::Band band = proto::ToleranceBand(tVal, tol, 0, vp);
    const int bg = band.Holds(Mvalue) ? VAL_DK_GREEN : VAL_RED;
    SetCtrlAttribute(pHandle, PANEL_NUMMvalueMm, ATTR_TEXT_BGCOLOR, bg);
    SetCtrlAttribute(pHandle, PANEL_NUMMvalue, ATTR_TEXT_BGCOLOR, bg);
    ShowToleranceInWords(band, Mvalue);

    SetCtrlVal(pHandle, PANEL_NUMLedge, static_cast<int>(Ledge));
    SetCtrlVal(pHandle, PANEL_NUMRedge, static_cast<int>(Redge));
    SetCtrlVal(pHandle, PANEL_NUMMvalue, static_cast<int>(Mvalue));
    SetCtrlVal(pHandle, PANEL_NUMAnaValue, static_cast<int>(Mvalue));
    SetCtrlVal(pHandle, PANEL_NUMMvalueMm, static_cast<double>(umValue) / 1000.0);
    SetCtrlVal(pHandle, PANEL_NUMToleranceMm,
               static_cast<double>(tol) * static_cast<double>(slope) /
                   (static_cast<double>(SlopeScale()) * 1000.0));
    SetCtrlVal(pHandle, PANEL_NUMAnaMax, static_cast<int>(anaMax));
    SetCtrlVal(pHandle, PANEL_NUMAnaMin, static_cast<int>(anaMin));

    // live pixel value for the calibration step in progress
    int step = 0;
    GetCtrlVal(pPopup, POPUP_CheckStep1, &step);
    if (step == 1) SetCtrlVal(pPopup, POPUP_NUMPixelObject1, static_cast<int>(Mvalue));
    step = 0;
    GetCtrlVal(pPopup, POPUP_CheckStep2, &step);
    if (step == 1) SetCtrlVal(pPopup, POPUP_NUMPixelObject2, static_cast<int>(Mvalue));

    SetAxisScalingMode(pHandle, PANEL_GRAPHBar, VAL_XAXIS, VAL_MANUAL, 1.0, vp);
    SetGraphCursor(pHandle, PANEL_GRAPHBar, 2, eBeg, 0.75);
    SetGraphCursor(pHandle, PANEL_GRAPHBar, 3, eEnd, 0.75);
    DeleteGraphPlot(pHandle, PANEL_GRAPHBar, VAL_DELETE_ALL, VAL_DELAYED_DRAW);

    if (r < pixB) r = pixB;
    if (r > pixE) r = pixE;
    if (r == 0) r = 1;
    if (r > ccdvirtpixel) r = ccdvirtpixel;
    SetGraphCursor(pHandle, PANEL_GRAPHBar, 1, r, 0.75);

    // red bars: where the line is covered, by the number of edges found
    bool leftBar = false, rightBar = false, oneBar = false;
    if (edcnt == 0) {
        leftBar = rightBar = (mvstart > vThd && mvend > vThd);
    } else if (edcnt == 1) {
        if (mvstart < mvend) oneBar = true;
        else leftBar = true;
    } else {
        leftBar = rightBar = true;
    }
    if (leftBar) PlotRectangle(pHandle, PANEL_GRAPHBar, 1.0, 0.25, Ledge, 1.0, VAL_RED, VAL_RED);
    if (rightBar) PlotRectangle(pHandle, PANEL_GRAPHBar, Redge, 0.25, pixE, 1.0, VAL_RED, VAL_RED);
    if (oneBar) PlotRectangle(pHandle, PANEL_GRAPHBar, Ledge, 0.25, pixE, 1.0, VAL_RED, VAL_RED);

    // green tolerance windows
    const int32_t halfT = tVal / 2, halfTol = tol / 2;
    int32_t a, b;
    if (eMode == 2) {
        if (edcnt == 0) return;
        a = static_cast<int32_t>(r) - halfT - halfTol;
        b = static_cast<int32_t>(r) - halfT + halfTol;
    } else {
        a = static_cast<int32_t>(tVal) - tol;
        b = static_cast<int32_t>(tVal) + tol;
    }
    if (a < 0) a = 1;
    if (b > vp - 1) b = vp;
    PlotRectangle(pHandle, PANEL_GRAPHBar, a, 0.0, b, 0.35, VAL_GREEN, VAL_GREEN);
    if (eMode == 2) {
        // the plot area cuts this one off
        int32_t c = static_cast<int32_t>(r) + halfT - halfTol;
        int32_t d = static_cast<int32_t>(r) + halfT + halfTol;
        PlotRectangle(pHandle, PANEL_GRAPHBar, c, 0.0, d, 0.35, VAL_GREEN, VAL_GREEN);
    }
}

static const int traceColor[6] = {VAL_DK_GREEN, VAL_DK_GREEN, VAL_BLACK, VAL_RED, VAL_RED, VAL_RED};
// the tolerance limits dashed and the extremes dotted, so that neither is
// told from the value by its colour alone
static const int traceStyle[6] = {VAL_DASH, VAL_DASH, VAL_SOLID, VAL_SOLID, VAL_DOT, VAL_DOT};

// Draws the strip chart: the newest measurement appended to the six traces.
void PlotRAWGraphX8(void) {
    const int vp = ccdvirtpixel;
    const int mv = Mvalue;

    int maxLine = mv, minLine = mv;
    switch (anaMode) {
    case 2:
    case 5: maxLine = anaMax; break;
    case 3:
    case 6: minLine = (anaMin == vp - 1) ? 1 : anaMin; break;
    case 4:
    case 7:
        if (anaMax > anaMin) {
            maxLine = anaMax;
            minLine = anaMin;
        }
        break;
    default:   // direct modes
        break;
    }

    Shift(arrayNORM, 600, -6, arrayNORM);

    const proto::Band lines = proto::ToleranceBand(tVal, tol, 1, vp - 1);
    const int upper = lines.upper, lower = lines.lower;

    int low, high;
    if (tTol < 20) {
        low = static_cast<int>(tVal) - 40;
        high = static_cast<int>(tVal) + 40;
        if (mv > high) high = mv + 50;
        if (mv < low) low = mv - 50;
    } else {
        low = static_cast<int>(tVal) - 2 * static_cast<int>(tol);
        high = static_cast<int>(tVal) + 2 * static_cast<int>(tol);
        if (mv > high) high = mv + 100;
        if (mv < low) low = mv - 100;
    }
    if (high > vp - 1) high = vp - 1;
    if (low < 1) low = 1;

    double *newest = arrayNORM + 594;
    newest[0] = upper;
    newest[1] = lower;
    newest[2] = tVal;
    newest[3] = mv;
    newest[4] = maxLine;
    newest[5] = minLine;

    // The chart's constant set-up is done once per panel.
    static int chartPanel = -1;
    if (chartPanel != pHandle) {
        SetCtrlAttribute(pHandle, PANEL_STRIPRaw, ATTR_POINTS_PER_SCREEN, 101);
        SetCtrlAttribute(pHandle, PANEL_STRIPRaw, ATTR_SCROLL_MODE, 1);
        SetCtrlAttribute(pHandle, PANEL_STRIPRaw, ATTR_NUM_TRACES, 6);
        for (int t = 0; t < 6; ++t) {
            SetTraceAttribute(pHandle, PANEL_STRIPRaw, t + 1, ATTR_TRACE_COLOR, traceColor[t]);
            SetTraceAttribute(pHandle, PANEL_STRIPRaw, t + 1, ATTR_TRACE_LINE_STYLE, traceStyle[t]);
        }
        chartPanel = pHandle;
    }
    int zoom = 0;
    GetCtrlVal(pHandle, PANEL_TOGGLEZoom, &zoom);
    if (zoom == 0) SetAxisScalingMode(pHandle, PANEL_STRIPRaw, VAL_LEFT_YAXIS, VAL_MANUAL, 0.0, vp);
    else SetAxisScalingMode(pHandle, PANEL_STRIPRaw, VAL_LEFT_YAXIS, VAL_MANUAL, low, high);

    PlotStripChart(pHandle, PANEL_STRIPRaw, arrayNORM, 600, 0, 0, VAL_DOUBLE);
}
