// kvex-sim: a K-VEX-XC line sensor on a serial line (pseudo-terminal or
// device). One thread: a poll loop over the line and standard input.
#pragma once

#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace kvexsim {

constexpr int kWords = 16;
constexpr int kFrameBytes = 36;
constexpr int kSamples = 256;
constexpr uint16_t kSensorSync = 0x00AA;
constexpr uint16_t kHostSync = 0x0055;
constexpr int kOrders = 12;
// 19200 baud, 10 bits a byte
constexpr double kByteTime = 10.0 / 19200.0;
constexpr double kDropTime = 0.100;
constexpr uint16_t kYOffset = 30000;

// parameter words
// clang-format off
enum {
    P_POWER, P_RS232MODE, P_VTHD, P_ANAMODE, P_POLARITY, P_EMODE, P_EBEG, P_EEND,
    P_TVAL, P_TTOL, P_OPMODE, P_EHARDWARE, P_SLOPE, P_INTERSECT, P_AVERAGE, P_WORD15
};
// clang-format on

struct Identity {
    uint16_t ccdtype = 2, ccdmaxpixel = 1024, ccdresolution = 0, pcbtype = 100, ccdvirtpixel = 2048,
             ccdsubpixel = 2, ccdpixb = 1, ccdpixe = 2048, softversion = 252, hwtype = 0,
             adcmax = 1024;
    bool pixeSet = false;   // ccdpixe follows ccdvirtpixel until set
    std::string firmware;   // empty: built from softversion
};

struct Object {
    bool on = false;
    double left = 0, right = 0;
};

struct Scene {
    Object obj[2];
    double motionAmp = 0, motionPeriod = 0;   // virtual pixels, seconds
    double jitter = 0.3;                      // edge jitter, virtual pixels (sigma)
    double videoNoise = 2.0;                  // ADC counts (sigma)
};

struct Faults {
    bool silent = false;
    std::set<int> noAnswer;
    int scopeOrder = -1;   // -1: late/short/extra/bad-sync/garbage hit every order
    int lateMs = 0;
    int shortBytes = -1;   // -1 off
    int extraBytes = 0;
    int badSync = -1;     // -1 off, else the sync word sent in frames
    int hwHeader = -1;    // -1 off, else header word of the order 10 answer
    double garbage = 0;   // probability of a noise burst before an answer
    int strayBytes = 0;   // stray bytes before every strayEvery-th frame answer (0 off)
    int strayEvery = 1;
    unsigned long long strayFrames = 0;   // frame answers in scope since stray was set
    long long silentAt = -1;              // answers count at which the sensor falls silent
    long long closeAt = -1;               // answers count after which the line is closed
};

struct Stats {
    unsigned long long requests[kOrders + 1] = {};   // index 0: unknown orders
    unsigned long long answers = 0, frames = 0, blocks = 0;
    unsigned long long bytesOut = 0, bytesIn = 0;
    unsigned long long dropped = 0, badSync = 0, unknown = 0, suppressed = 0;
    unsigned long long garbageBursts = 0, garbageBytes = 0, writeErrors = 0, overflow = 0;
    unsigned long long strayBursts = 0, strayBytes = 0;
};

struct Measurement {
    uint16_t ledge = 0, redge = 0, mvalue = 0;
    uint32_t um = 0;
    uint16_t edcnt = 0, mvstart = 0, mvend = 0;
    bool valid = false;
};

struct Answer {
    int order = 0;
    bool frame = true;   // false: raw block without header
    std::vector<uint8_t> bytes;
};

struct Sensor {
    Identity id;
    uint16_t ram[kWords] = {};
    uint16_t eeprom[kWords] = {};
    std::string eepromPath;
    bool calMode = false;
    uint16_t anaMax = 0, anaMin = 0;
    uint16_t frameCounter = 0;
    uint16_t in0 = 0;
    Scene scene;
    uint16_t video[kSamples] = {};
    double t0 = 0;
    std::mt19937_64 rng{1};
};

// sensor.cpp
uint16_t SlopeScale(const Identity &id);
int SampleSpacing(uint16_t ccdvirtpixel);
uint16_t FullScale(const Identity &id);
std::string FirmwareText(const Identity &id);
void FactoryDefaults(const Identity &id, uint16_t set[kWords]);
void InitSensor(Sensor &s, double now);
void ResetMaxMin(Sensor &s);
// Loads the EEPROM set from its file; false (and a message) when it is
// missing or unreadable, which leaves the set untouched.
bool LoadEeprom(Sensor &s, std::string &msg);
bool SaveEeprom(const Sensor &s, std::string &msg);
void BuildVideo(Sensor &s, double now);
Measurement Evaluate(const Sensor &s);
// Acts on one request frame; fills `out` and returns true when the sensor
// answers it. `note` receives a line for standard output (may stay empty).
bool HandleRequest(Sensor &s, Stats &st, const uint8_t *frame, double now, Answer &out,
                   std::string &note);
void PutFrame(std::vector<uint8_t> &b, int syncWord, int order, const uint16_t w[kWords]);

}   // namespace kvexsim
