// The program's parameter variables and the main panel's parameter
// controls, for the parameter, transfer and run-mode tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/program.h"
#include "app/app.h"
#include "params/vars.h"

// The parameter variables in frame order (word 15: deltaTol).
inline uint16_t *const kParamVars[16] = {
    &power, &rs232Mode, &vThd,   &anaMode,   &polarity, &eMode,     &eBeg,    &eEnd,
    &tVal,  &tTol,      &opMode, &eHardware, &slope,    &intersect, &average, &deltaTol};

// As if a type 2 sensor on firmware 252 with 2048 virtual pixels had been
// identified; no loop running.
inline void IdentifiedAsType2() {
    ccdtype = 2;
    softversion = 252;
    ccdvirtpixel = 2048;
    pixB = 1;
    pixE = 2048;
    stop_flag = STOP_ASKED;
}

inline void SetParamVars(const std::vector<int> &w, int trig) {
    for (int i = 0; i < 16; ++i) *kParamVars[i] = static_cast<uint16_t>(w[i]);
    trigMode = static_cast<uint16_t>(trig);
}

inline std::vector<int> ParamVars(bool word15IsTrig) {
    std::vector<int> w;
    for (int i = 0; i < 16; ++i) w.push_back(*kParamVars[i]);
    if (word15IsTrig) w[15] = trigMode;
    return w;
}

// A word control of the main panel.
inline int Shown(int control) {
    uint16_t v = 0;
    GetCtrlVal(pHandle, control, &v);
    return v;
}

// An attribute and a radio button of the main panel.
inline int Attr(int control, int attribute) { return Attr(pHandle, control, attribute); }
inline int Radio(int control) { return IntVal(pHandle, control); }

inline void SelectTarget(int t) {
    SetCtrlVal(pHandle, PANEL_RBTRam, t == RAM);
    SetCtrlVal(pHandle, PANEL_RBTEeprom, t == EEPROM);
    SetCtrlVal(pHandle, PANEL_RBTFile, t == DATFILE);
    target = t;
}

// The parameter variables and pp as a get from kvex-sim's RAM leaves them
// (its factory set).
inline void HoldSimulatorFactorySet() {
    power = 500;
    vThd = 512;
    eMode = 1;
    eBeg = 1;
    eEnd = 2048;
    tVal = 512;
    tTol = 100;
    slope = 12800;
    intersect = 30000;
    for (int i = 0; i < PNUM; ++i) pp[i] = 0;
    CopyVarsToPP();
}

// Opens port 1 on a device with the receive callback, without the echo
// check and identification.
inline bool OpenTestLine(const std::string &device) {
    rt_SetPortTable({device});
    com = 1;
    if (OpenComConfig(1, "", 19200, 0, 8, 1, 4096, 4096) != 0) return false;
    SetComTime(1, TIMEOUT);
    FlushInQ(1);
    FlushOutQ(1);
    SetCTSMode(1, 0);
    InstallComCallback(1, eventMask, 36, 0x55, RX_Receive_Function, nullptr);
    return true;
}
