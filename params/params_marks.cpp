// Panel controls whose value the sensor's RAM does not have yet.
#include <cstring>
#include <string>

#include "ui/panels.h"
#include "params/vars.h"
#include "proto/proto.h"

static uint16_t ramWords[PNUM];
static int ramKnown = 0;

void NoteSensorRam(const uint16_t *words) {
    std::memcpy(ramWords, words, sizeof ramWords);
    ramKnown = 1;
    UpdateMarks();
}

void NoteSensorRamWord(int i, uint16_t word) {
    if (!ramKnown || i < 0 || i >= PNUM) return;
    ramWords[i] = word;
    UpdateMarks();
}

void ForgetSensorRam(void) {
    ramKnown = 0;
    CompareForgetSensor();
    UpdateMarks();
}

int SensorRamKnown(const uint16_t **words) {
    if (words != nullptr) *words = ramWords;
    return ramKnown;
}

void PanelWords(uint16_t *words) {
    // GetPanelValues reads into the variables; they keep what they hold
    const uint16_t saved[] = {power, rs232Mode, vThd,    anaMode,  polarity, eMode,
                              eBeg,  eEnd,      tVal,    tTol,     opMode,   eHardware,
                              slope, intersect, average, deltaTol, trigMode};
    uint16_t savedPP[PNUM];
    std::memcpy(savedPP, pp, sizeof savedPP);
    GetPanelValues();
    CopyVarsToPP();
    std::memcpy(words, pp, sizeof pp);
    std::memcpy(pp, savedPP, sizeof savedPP);
    uint16_t *vars[] = {&power, &rs232Mode, &vThd,    &anaMode,  &polarity, &eMode,
                        &eBeg,  &eEnd,      &tVal,    &tTol,     &opMode,   &eHardware,
                        &slope, &intersect, &average, &deltaTol, &trigMode};
    for (size_t i = 0; i < sizeof saved / sizeof saved[0]; ++i) *vars[i] = saved[i];
}

// The control that shows each word; word 15 has two, one per firmware.
struct WordCtrl {
    int word;
    int *panel;
    int control;
};
static const WordCtrl kControls[] = {
    {0, &pHandle, PANEL_NUMPower},          {1, &pHandle, PANEL_RINGRs232Mode},
    {2, &pHandle, PANEL_NUMVideoThreshold}, {3, &pHandle, PANEL_RINGanaMode},
    {4, &pHandle, PANEL_NUMPolarity},       {5, &pHandle, PANEL_NUMEvalMode},
    {6, &pHandle, PANEL_NEDITEdgeLeft},     {7, &pHandle, PANEL_NEDITEdgeRight},
    {8, &pHandle, PANEL_NUMSetpoint},       {9, &pHandle, PANEL_NEDITTolerance},
    {10, &pHandle, PANEL_SWITCHOpMode},     {11, &pHandle, PANEL_DROPHardware},
    {12, &pPopup, POPUP_NUMCalSlope},       {13, &pPopup, POPUP_NUMCalOffset},
    {14, &pHandle, PANEL_NUMAverage},       {15, &pHandle, PANEL_NUMDeltaTol},
    {15, &pHandle, PANEL_RINGTrigMode},
};
enum { kNumControls = sizeof kControls / sizeof kControls[0] };

// Tooltips as the resource file has them, kept for when a mark goes.
static std::string baseTips[kNumControls];
static int tipsOf = 0;   // the main panel the tips were read from

static bool CarriesWord(const WordCtrl &c) {
    if (c.control == PANEL_NUMDeltaTol) return softversion < 240;
    if (c.control == PANEL_RINGTrigMode) return softversion >= 240;
    return true;
}

void WordControl(int i, int *panel, int *control) {
    *panel = 0;
    *control = 0;
    for (const WordCtrl &c : kControls)
        if (c.word == i && CarriesWord(c)) {
            *panel = *c.panel;
            *control = c.control;
            return;
        }
}

std::string WordShown(int word, uint16_t w) {
    if (word == 12) return proto::NumberText(static_cast<double>(w) / SlopeScale(), 'g', 6);
    if (word == 13) return std::to_string(static_cast<int>(w) - YOFFSET);
    return std::to_string(w);
}

void UpdateMarks(void) {
    if (pHandle <= 0 || pPopup <= 0 || tipsOf != pHandle) return;
    uint16_t panel[PNUM];
    if (ramKnown) PanelWords(panel);
    for (int i = 0; i < kNumControls; ++i) {
        const WordCtrl &c = kControls[i];
        const int word = c.word;
        const bool marked = ramKnown && CarriesWord(c) && panel[word] != ramWords[word];
        rt_SetCtrlMark(*c.panel, c.control, marked ? 1 : 0);
        std::string tip = baseTips[i];
        if (marked) {
            const std::string line =
                "not in the sensor yet: sensor has " + WordShown(word, ramWords[word]);
            tip = tip.empty() ? line : line + "\n\n" + tip;
        }
        rt_SetToolTip(*c.panel, c.control, tip.c_str());
    }
    CompareFollowPanel();
}

static void AfterEvent(int panel, int control, int event) {
    (void)control;
    (void)event;
    if (panel == pHandle || panel == pPopup) UpdateMarks();
}

void InitMarks(void) {
    if (tipsOf != pHandle) {
        for (int i = 0; i < kNumControls; ++i)
            baseTips[i] = rt_GetToolTip(*kControls[i].panel, kControls[i].control);
        tipsOf = pHandle;
    }
    rt_SetEventHook(AfterEvent);
    InitCompare();
    ForgetSensorRam();
}
