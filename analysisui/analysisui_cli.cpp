// kvex-ridar --analyse FILE [--export OUT.pdf ...]: the Analysis window on
// its own, or its report written without a display.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "analysisui/analysisui_internal.h"

using namespace anaui;

// ---- command line ----------------------------------------------------------------------

static int ParseNumber(const char *s, double *out) {
    if (!s) return 0;
    return RecParseDouble(s, std::strlen(s), out);
}

int AnalysisCommandLine(int argc, char **argv, int *handled) {
    *handled = 0;
    const char *file = nullptr, *out = nullptr, *lslText = nullptr, *uslText = nullptr;
    double lsl = NAN, usl = NAN;
    int unit = SPC_UNIT_PX;
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        if (std::strcmp(a, "--simulate") == 0) break;
        auto value = [&](const char *name) -> const char * {
            if (i + 1 < argc) return argv[++i];
            std::fprintf(stderr, "kvex-ridar: %s needs a value\n", name);
            return nullptr;
        };
        if (std::strcmp(a, "--analyse") == 0 || std::strcmp(a, "--analyze") == 0) {
            *handled = 1;
            file = value(a);
            if (!file) return 2;
        } else if (std::strcmp(a, "--export") == 0) {
            out = value(a);
            if (!out) {
                *handled = 1;
                return 2;
            }
        } else if (std::strcmp(a, "--lsl") == 0 || std::strcmp(a, "--usl") == 0) {
            const char *v = value(a);
            double d = 0;
            // "nan" and "inf" are no limits
            if (!v || !ParseNumber(v, &d) || !std::isfinite(d)) {
                std::fprintf(stderr, "kvex-ridar: %s needs a number\n", a);
                *handled = 1;
                return 2;
            }
            (a[2] == 'l' ? lsl : usl) = d;
            (a[2] == 'l' ? lslText : uslText) = v;
        } else if (std::strcmp(a, "--unit") == 0) {
            const char *v = value(a);
            if (!v || (std::strcmp(v, "px") != 0 && std::strcmp(v, "mm") != 0)) {
                std::fprintf(stderr, "kvex-ridar: --unit is px or mm\n");
                *handled = 1;
                return 2;
            }
            unit = std::strcmp(v, "mm") == 0 ? SPC_UNIT_MM : SPC_UNIT_PX;
        }
    }
    if (!*handled) {
        if (out) {
            std::fprintf(stderr, "kvex-ridar: --export needs --analyse FILE\n");
            *handled = 1;
            return 2;
        }
        return 0;
    }
    if (lslText && uslText && !(lsl < usl)) {
        if (lsl > usl)
            std::fprintf(stderr, "kvex-ridar: --lsl %s lies above --usl %s: no capability\n",
                         lslText, uslText);
        else
            std::fprintf(stderr,
                         "kvex-ridar: --lsl %s equals --usl %s: the tolerance has no width\n",
                         lslText, uslText);
        return 2;
    }
    // A report needs no display: nothing is shown.
    if (out) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        rt_QuietPlatformNotices();
    }
    if (InitCVIRTE(argc, argv) == 0) {
        std::fprintf(
            stderr,
            "kvex-ridar: no display to open the analysis window on (use --export for a report)\n");
        return 1;
    }
    RegisterAnalysisCallbacks();
    g.standalone = 1;
    g.unit = unit;
    const int entered = std::isfinite(lsl) || std::isfinite(usl);
    g.limits = entered ? SPC_LIMITS_ENTERED : SPC_LIMITS_NONE;
    g.lsl = lsl;
    g.usl = usl;
    if (AnalysisLoadPanel() < 0) return 1;
    if (AnalysisOpenFile(file) != 0) {
        if (out) return 1;
    }
    if (out) {
        if (g.rec.info.message.size())
            std::fprintf(stderr, "kvex-ridar: %s: %s\n", file, g.rec.info.message.c_str());
        // the pictures are drawn at the window's size, as on screen
        DisplayPanel(pAnalysis);
        ProcessSystemEvents();
        AnalysisRefresh();
        std::string why;
        if (AnalysisWritePdf(out, &why) != 0) {
            std::fprintf(stderr, "kvex-ridar: the report could not be written to %s: %s\n", out,
                         why.c_str());
            return 1;
        }
        std::fputs(AnalysisTableText(), stdout);
        std::fflush(stdout);
        DiscardPanel(pAnalysis);
        pAnalysis = -1;
        return 0;
    }
    InitAnalysis();
    DisplayPanel(pAnalysis);
    SetActivePanel(pAnalysis);
    RunUserInterface();
    DiscardPanel(pAnalysis);
    pAnalysis = -1;
    return 0;
}
