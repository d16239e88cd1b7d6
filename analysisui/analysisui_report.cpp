// The Analysis window's report (PDF) and pictures (PNG), and the dialogs
// that name them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "analysisui/analysisui_internal.h"

using namespace anaui;

void AnalysisFileName(char *name, int bufSize, long long unixTime, const char *ext) {
    if (!name || bufSize <= 0) return;
    const std::time_t t = static_cast<std::time_t>(unixTime);
    std::tm local{};
    char stamp[40] = "";
    if (localtime_r(&t, &local) == nullptr ||
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d-%H%M%S", &local) == 0)
        stamp[0] = '\0';
    std::snprintf(name, static_cast<size_t>(bufSize), "ridar-analysis%s%s%s", stamp[0] ? "-" : "",
                  stamp, ext ? ext : "");
}

int AnalysisWritePdf(const char *path, std::string *why) {
    if (AnalysisLoadPanel() < 0) return -1;
    RtReport rep;
    rep.title = g.source == SPC_SOURCE_LIVE ? "K-VEX-XC-Ridar analysis: live measurements"
                                            : "K-VEX-XC-Ridar analysis: recording";
    char made[120];
    std::time_t now = std::time(nullptr);
    std::tm local{};
    char stamp[40] = "";
    if (localtime_r(&now, &local)) std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(made, sizeof made, "Made %s by kvex-ridar %s", stamp, RIDAR_VERSION);
    rep.lines.push_back(made);
    for (const std::string &l : SourceLines()) rep.lines.push_back(l);
    rep.panel = pAnalysis;
    rep.charts = {ANALYSIS_GRAPHSpcIndiv, ANALYSIS_GRAPHSpcMR, ANALYSIS_GRAPHSpcHist};
    rep.chartHeights = {5, 3, 4};
    rep.tableBesideLastChart = 1;
    rep.table.push_back({"Capability", "value"});
    for (const AnaRow &r : Rows()) rep.table.push_back({r.name, r.value});
    rep.notes = FindingLines();
    rep.notes.push_back(
        "Control limits at +/- 3 sigma within (mean moving range / 1.128); Cp, Cpk with sigma "
        "within, Pp, Ppk with sigma overall (n - 1); expected ppm from the normal distribution.");
    return rt_WritePdfReport(path, rep, why) == 0 ? 0 : -1;
}

int AnalysisSavePngs(const char *base) {
    if (AnalysisLoadPanel() < 0 || !base) return -1;
    static const struct {
        int control;
        const char *suffix;
    } pictures[] = {
        {ANALYSIS_GRAPHSpcIndiv, "-individuals.png"},
        {ANALYSIS_GRAPHSpcMR, "-moving-range.png"},
        {ANALYSIS_GRAPHSpcHist, "-histogram.png"},
    };
    int rc = 0;
    for (const auto &p : pictures) {
        const std::string file = std::string(base) + p.suffix;
        if (rt_SavePanelImage(pAnalysis, p.control, file.c_str()) != 0) rc = -1;
    }
    return rc;
}

namespace anaui {

// Where the last report or picture went; empty: the working directory.
char lastDir[260] = "";

void RememberDir(const char *path) {
    const char *slash = std::strrchr(path, '/');
    if (!slash) return;
    const size_t n = static_cast<size_t>(slash - path);
    if (n >= sizeof lastDir) return;
    std::memcpy(lastDir, path, n);
    lastDir[n] = '\0';
}

// Asks for a file name ending in ext; 0 when one was chosen (and may be written).
int AskFile(const char *title, const char *ext, const char *filter, char *path, int bufSize) {
    char name[80];
    AnalysisFileName(name, sizeof name, static_cast<long long>(std::time(nullptr)), ext);
    const int r = FileSelectPopup(lastDir, name, filter, title, "Save", 0, 1, 1, 1, path, bufSize);
    if (r <= 0) return -1;
    const size_t n = std::strlen(path), e = std::strlen(ext);
    if ((n < e || std::strcmp(path + n - e, ext) != 0) && n + e < static_cast<size_t>(bufSize))
        std::strcat(path, ext);
    long size = 0;
    if (GetFileInfo(path, &size) == 1 &&
        !ConfirmPopup("ATTENTION !", "File already exist - overwrite ?"))
        return -1;
    RememberDir(path);
    return 0;
}

void SavePicture(int control) {
    char path[300] = "";
    if (AskFile("Save picture as PNG", ".png", "*.png", path, static_cast<int>(sizeof path)) != 0)
        return;
    std::string m = rt_SavePanelImage(pAnalysis, control, path) == 0
                        ? std::string("Picture saved: ") + path
                        : std::string("Picture could not be written: ") + path;
    Status(m.c_str());
}

}   // namespace anaui
