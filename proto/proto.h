// The sensor protocol without any I/O: order codes, the 36-byte frame, the
// parameter and measurement frames, the sensor model from the hardware
// reply, the firmware text and series rules, and the two file formats the
// program writes (parameter file, recorder file). No Qt, no globals.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace proto {

constexpr int kWords = 16;   // payload words of a frame
constexpr int kFrameBytes = kWords * 2 + 4;
constexpr uint16_t kHostSync = 0x0055;     // first word of every request
constexpr uint16_t kSensorSync = 0x00AA;   // first word of the sensor's frames
constexpr double kTimeout = 1.5;           // seconds from the write to the reply
constexpr int kFirmwareBytes = 72;         // raw reply to the firmware order
constexpr uint16_t kYOffset = 30000;       // bias of the calibration offset word
constexpr int kSlopeX512 = 512;
constexpr int kSlopeX1024 = 1024;
constexpr int kBaud = 19200;

enum class Order : uint16_t {
    StoreRam = 1,
    GetRam = 2,
    StoreEeprom = 3,
    GetEeprom = 4,
    Echo = 5,
    Teach = 6,
    FirmwareInfo = 7,
    Measure = 8,
    Video64 = 9,
    HardwareInfo = 10,
    Video256 = 11,   // also resets the analogue min/max outside video mode
    ResetMinMax = 11,
    Calibration = 12,
};

using Words = std::array<uint16_t, kWords>;

// ---------------------------------------------------------------- frames

struct Frame {
    uint16_t sync = 0;
    uint16_t header = 0;   // the order code; the sensor answers order 10 with 10 here
    Words words{};
};

// Big-endian word at p[0], p[1].
uint16_t GetWord(const uint8_t *p);
void PutWord(uint8_t *p, uint16_t w);

// The request frame: sync word, order code, 16 words, high byte first.
void EncodeFrame(Order order, const Words &words, uint8_t out[kFrameBytes],
                 uint16_t sync = kHostSync);
// Any 36 bytes decode; what they mean is up to the caller.
Frame DecodeFrame(const uint8_t in[kFrameBytes]);

// ---------------------------------------------------------------- parameter frame

// clang-format off
enum ParamWord {
    kPower, kRs232Mode, kVThd, kAnaMode, kPolarity, kEMode, kEBeg, kEEnd,
    kTVal, kTTol, kOpMode, kEHardware, kSlope, kIntersect, kAverage, kWord15
};
// clang-format on

struct ParamFrame {
    uint16_t power = 0, rs232Mode = 0, vThd = 0, anaMode = 0, polarity = 0, eMode = 0, eBeg = 0,
             eEnd = 0, tVal = 0, tTol = 0, opMode = 0, eHardware = 0, slope = 0, intersect = 0,
             average = 0;
    uint16_t deltaTol = 0, trigMode = 0;   // word 15: one or the other by firmware
};

// Firmware 240 replaced the second tolerance by the trigger mode in word 15.
bool Word15IsTrigMode(uint16_t softversion);
Words ParamsToWords(const ParamFrame &p, uint16_t softversion);
// The frame does not say which word 15 it carries, so both take it.
ParamFrame ParamsFromWords(const Words &w);
// Name of parameter word i as the program calls it; word 15 by firmware.
const char *ParamWordName(int i, uint16_t softversion);

// ---------------------------------------------------------------- measurement frame

struct Measurement {
    uint16_t Ledge = 0, Redge = 0, Mvalue = 0;
    uint32_t umValue = 0;   // words 3 (low) and 4 (high)
    uint16_t tVal = 0, tol = 0, edcnt = 0, mvstart = 0, mvend = 0, freevar = 0, anaMax = 0,
             anaMin = 0, in0 = 0;
};

Measurement MeasurementFromWords(const Words &w);
// umValue as the recorder's signed 32-bit column shows it.
int64_t SignedUm(uint32_t umValue);

// ---------------------------------------------------------------- sensor model

struct HardwareInfo {
    uint16_t ccdtype = 0, ccdmaxpixel = 0, ccdresolution = 0, pcbtype = 0, ccdvirtpixel = 0,
             ccdsubpixel = 0, ccdpixB = 0, ccdpixE = 0, softversion = 0, hwtype = 0, adcmax = 0;
};

HardwareInfo HardwareFromWords(const Words &w);

// What the hardware reply and the firmware version mean for the rest of
// the program, computed once.
struct SensorModel {
    HardwareInfo hw;            // ccdmaxpixel and ccdvirtpixel corrected
    uint16_t graphPixels = 0;   // ccdvirtpixel as received (video graph's x range)
    int spacing = 4;            // virtual pixels between two of the 256 video samples
    uint16_t pixB = 1, pixE = 1024;
    uint16_t YMAXADC = 1024;
    int slopeScale = kSlopeX1024;
    bool trigMode = false;          // word 15 carries trigMode (firmware 240 and above)
    bool firmwareAsWords = false;   // board 0: the text comes as 36 words
    bool videoIn64Blocks = false;   // boards 0 and 100: four 64-word blocks
    std::string line0, line1;       // sensor description; empty: none for this type
    std::string gainOn, gainOff;    // texts of the operating-mode switch; empty: unchanged
    // What the type's row does to the panel beyond the values above: shows
    // the trigger mode or the second tolerance by firmware, fixes the RS-232
    // mode, scales the raw strip chart to the CCD's pixels.
    bool word15ByFirmware = false;
    bool rs232ModeFixed = false;
    bool stripToMaxPixels = false;
};

// yMaxAdcBefore: the video full scale in force, kept by the types that do
// not set it.
SensorModel ModelFromHardware(const HardwareInfo &hw, uint16_t yMaxAdcBefore = 1024);
// 512 for CCD type 104 below firmware 250, else 1024.
int SlopeScale(uint16_t ccdtype, uint16_t softversion);

// ---------------------------------------------------------------- firmware text

// The text of a firmware reply: 72 bytes of text, or on board type 0 36
// words whose low bytes are the characters. Any other length gives "".
std::string FirmwareText(const uint8_t *bytes, size_t n, uint16_t pcbtype);
// 0 when the text names this program's series or no known one, else the
// refusal code -1 .. -6.
int SeriesResult(const std::string &text);
// The message for a refusal code (two lines).
const char *SeriesRefusedText(int r);

// ---------------------------------------------------------------- tolerance band

// tVal ± tol in plain integer arithmetic, the lower bound raised to `lowest`
// and the upper one lowered to `highest` where they pass them. The colour
// tests take 0 and the line's pixels, the strip chart's lines 1 and one less.
struct Band {
    int lower, upper;
    bool Holds(int v) const { return v >= lower && v <= upper; }   // a bound is inside
};
Band ToleranceBand(uint16_t tVal, uint16_t tol, int lowest, int highest);

// ---------------------------------------------------------------- conversions

// Truncates toward zero and wraps modulo 65536; NaN and infinities give 0.
uint16_t DoubleToWord(double value);

// A value with one decimal and always a point, whatever the process locale:
// 2.26 -> "2.3", -0.04 -> "0.0". NaN, infinities and huge values give "-".
std::string OneDecimal(double value);
// printf's %.*f (style 'f') or %.*g (style 'g') as the C locale writes them:
// a decimal point whatever the process locale, for text that machines read.
std::string NumberText(double value, char style, int precision);

// ---------------------------------------------------------------- parameter file

// The 16 words, each right-aligned in five characters, one per line (LF).
std::string FormatParamFile(const Words &w);

enum class ParamFileResult { Ok = 0, TooFew = -2, NotANumber = -3, OutOfRange = -4 };
// Where a parameter file failed: the line (1-based) and the text of the
// offending number as the file has it (0 and "" for too few numbers).
struct ParamFileFault {
    int line = 0;
    std::string text;
};
// Unsigned decimal numbers 0..65535 separated by any white space. Fewer
// than 16 numbers, a number above 65535 or anything else in the text fails
// and leaves `out` untouched; numbers after the 16th are ignored.
ParamFileResult ParseParamFile(const std::string &text, Words &out,
                               ParamFileFault *fault = nullptr);
// What is wrong, for a message after "FILE:LINE: ": "70000 is not a
// parameter word (0..65535)" and the like, the file's text made printable
// and cut to a sensible length; "" for Ok.
std::string ParamFileProblem(ParamFileResult r, const ParamFileFault &fault);

// ---------------------------------------------------------------- recorder file

struct RecorderHeader {
    std::string date;   // MM-DD-YYYY
    std::string time;   // HH:MM:SS
    uint16_t increment = 0, samples = 0;
    uint16_t slope = 0, intersect = 0;
    int slopeScale = kSlopeX1024;
};

// The seven header lines, CR LF each, the micro sign as the byte 0xB5.
// Independent of the process locale.
std::string FormatRecorderHeader(const RecorderHeader &h);
// One sample line: E-LEFT, E-RIGHT, M-VALUE, EDGES, M-VAL[um], tabs, CR LF.
std::string FormatRecorderLine(const Measurement &m);

}   // namespace proto
