// The protocol core alone: frames against bytes written by hand, the word
// tables, the sensor model, the series rules and both file formats. Links
// nothing but the core.
#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cmath>
#include <limits>
#include <string>

#include "proto/proto.h"
#include "tests/support/paramfiles.h"

using namespace proto;

namespace {

std::string Hex(const uint8_t *p, size_t n) {
    static const char *d = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += d[p[i] >> 4];
        out += d[p[i] & 15];
        out += ' ';
    }
    return out;
}
std::string Hex(const std::string &s) {
    return Hex(reinterpret_cast<const uint8_t *>(s.data()), s.size());
}

// ---------------------------------------------------------------- frames

struct TxCase {
    const char *name;
    Order order;
    Words words;
    const char *expect;   // 36 bytes
};

// clang-format off
const TxCase kTx[] = {
    {"echo, all zero", Order::Echo, {},
     "\x00\x55\x00\x05" "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
     "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"},
    {"calibration store: slope and intersect in bytes 6-9", Order::Calibration, {2, 34048, 29879},
     "\x00\x55\x00\x0C" "\x00\x02\x85\x00\x74\xB7\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
     "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"},
    {"store in RAM, high bytes and word 15", Order::StoreRam,
     {500, 1, 512, 7, 1, 4, 1, 2048, 1024, 100, 1, 3, 65535, 60000, 1024, 0xABCD},
     "\x00\x55\x00\x01" "\x01\xF4\x00\x01\x02\x00\x00\x07\x00\x01\x00\x04\x00\x01\x08\x00"
     "\x04\x00\x00\x64\x00\x01\x00\x03\xFF\xFF\xEA\x60\x04\x00\xAB\xCD"},
    {"get from EEPROM", Order::GetEeprom, {0xFFFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
     "\x00\x55\x00\x04" "\xFF\xFF\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
     "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01"},
};
// clang-format on

TEST(ProtoFrame, RequestBytes) {
    for (const TxCase &c : kTx) {
        uint8_t out[kFrameBytes + 2];
        out[kFrameBytes] = out[kFrameBytes + 1] = 0xEE;
        EncodeFrame(c.order, c.words, out);
        EXPECT_EQ(Hex(out, kFrameBytes), Hex(std::string(c.expect, 36))) << c.name;
        EXPECT_EQ(out[kFrameBytes], 0xEE) << "wrote past the frame: " << c.name;
    }
}

TEST(ProtoFrame, OrderCodesOnTheWire) {
    // clang-format off
    const std::pair<Order, int> codes[] = {
        {Order::StoreRam, 1}, {Order::GetRam, 2}, {Order::StoreEeprom, 3}, {Order::GetEeprom, 4},
        {Order::Echo, 5}, {Order::Teach, 6}, {Order::FirmwareInfo, 7}, {Order::Measure, 8},
        {Order::Video64, 9}, {Order::HardwareInfo, 10}, {Order::Video256, 11},
        {Order::ResetMinMax, 11}, {Order::Calibration, 12}};
    // clang-format on
    for (auto [o, code] : codes) {
        uint8_t out[kFrameBytes];
        EncodeFrame(o, Words{}, out);
        EXPECT_EQ(out[0], 0x00);
        EXPECT_EQ(out[1], 0x55);
        EXPECT_EQ(out[2], 0x00);
        EXPECT_EQ(out[3], code);
    }
}

TEST(ProtoFrame, DecodeReply) {
    const std::string bytes("\x00\xAA\x00\x0A"
                            "\x00\x02\x04\x00\x00\x00\x00\x64\x08\x00\x00\x02\x00\x01\x08\x00"
                            "\x00\xFC\x00\x00\x04\x00\x00\x00\x00\x00\x00\x00\x00\x00\x80\x01",
                            36);
    Frame f = DecodeFrame(reinterpret_cast<const uint8_t *>(bytes.data()));
    EXPECT_EQ(f.sync, kSensorSync);
    EXPECT_EQ(f.header, 10);
    const Words want{2, 1024, 0, 100, 2048, 2, 1, 2048, 252, 0, 1024, 0, 0, 0, 0, 0x8001};
    EXPECT_EQ(f.words, want);
    // and back: only the sync word differs from a request
    uint8_t again[kFrameBytes];
    EncodeFrame(Order::HardwareInfo, f.words, again, kSensorSync);
    EXPECT_EQ(Hex(again, kFrameBytes), Hex(bytes));
}

// ---------------------------------------------------------------- word tables

TEST(ProtoParams, Word15FollowsTheFirmware) {
    ParamFrame p;
    p.power = 500;
    p.slope = 12800;
    p.intersect = 30000;
    p.deltaTol = 11;
    p.trigMode = 22;
    // clang-format off
    struct { uint16_t soft; uint16_t word15; const char *name; } cases[] = {
        {0, 11, "deltaTol"}, {239, 11, "deltaTol"}, {240, 22, "trigMode"}, {252, 22, "trigMode"},
        {65535, 22, "trigMode"}};
    // clang-format on
    for (auto c : cases) {
        Words w = ParamsToWords(p, c.soft);
        EXPECT_EQ(w[15], c.word15) << c.soft;
        EXPECT_STREQ(ParamWordName(15, c.soft), c.name) << c.soft;
        EXPECT_EQ(w[0], 500);
        EXPECT_EQ(w[12], 12800);
        EXPECT_EQ(w[13], 30000);
    }
}

TEST(ProtoParams, FromWordsPutsWord15IntoBoth) {
    Words w{1200, 5, 3, 9, 2, 7, 1, 2048, 700, 100, 1, 3, 65535, 60001, 1025, 7};
    ParamFrame p = ParamsFromWords(w);
    EXPECT_EQ(p.deltaTol, 7);
    EXPECT_EQ(p.trigMode, 7);
    EXPECT_EQ(p.power, 1200);   // no range correction in the mapping
    EXPECT_EQ(p.tVal, 700);
    EXPECT_EQ(p.average, 1025);
    EXPECT_EQ(ParamsToWords(p, 252), w);
    EXPECT_EQ(ParamsToWords(p, 100), w);
}

TEST(ProtoParams, Names) {
    const char *want[] = {"power",  "rs232Mode", "vThd",  "anaMode",   "polarity",
                          "eMode",  "eBeg",      "eEnd",  "tVal",      "tTol",
                          "opMode", "eHardware", "slope", "intersect", "average"};
    for (int i = 0; i < 15; ++i) EXPECT_STREQ(ParamWordName(i, 252), want[i]);
    EXPECT_STREQ(ParamWordName(-1, 252), "");
    EXPECT_STREQ(ParamWordName(16, 252), "");
}

TEST(ProtoMeasurement, Words) {
    Words w{312, 553, 432, 34464, 1, 700, 50, 2, 11, 12, 13, 14, 15, 1, 0xEEEE, 0xEEEE};
    Measurement m = MeasurementFromWords(w);
    EXPECT_EQ(m.Ledge, 312);
    EXPECT_EQ(m.Redge, 553);
    EXPECT_EQ(m.Mvalue, 432);
    EXPECT_EQ(m.umValue, 100000u);
    EXPECT_EQ(m.tVal, 700);
    EXPECT_EQ(m.tol, 50);
    EXPECT_EQ(m.edcnt, 2);
    EXPECT_EQ(m.mvstart, 11);
    EXPECT_EQ(m.mvend, 12);
    EXPECT_EQ(m.freevar, 13);
    EXPECT_EQ(m.anaMax, 14);
    EXPECT_EQ(m.anaMin, 15);
    EXPECT_EQ(m.in0, 1);
    EXPECT_EQ(SignedUm(2147483647u), 2147483647);
    EXPECT_EQ(SignedUm(2147483648u), -2147483648LL);
    EXPECT_EQ(SignedUm(4294967295u), -1);
}

// ---------------------------------------------------------------- sensor model

TEST(ProtoModel, SensorTypes) {
    // clang-format off
    struct Case {
        uint16_t type, maxpix, res, pcb, virt, soft, hwtype, adc;
        uint16_t wantMax, wantVirt; int spacing; uint16_t pixE, ymax; int scale;
        const char *line0, *line1, *on;
    } cases[] = {
        {2, 1024, 0, 100, 2048, 252, 0, 1024, 1024, 2048, 8, 2048, 1024, 1024, "", "", "HI-GAIN"},
        {2, 1024, 350, 100, 2048, 252, 250, 256, 1024, 2048, 8, 2048, 256, 1024,
         "CCD-SENSOR:1024 pixel; 2048 subpixel", "35mm working range; 17\xB5m resolution", "HI-GAIN"},
        {1, 1000, 20, 0, 1000, 200, 80, 1024, 1024, 1024, 4, 1024, 1024, 1024,
         "CCD-SENSOR:1024 pixel; 4096 subpixel", "8.0mm working range; 2\xB5m resolution", "HI-GAIN"},
        {4, 512, 0, 1, 4096, 252, 0, 256, 512, 4096, 16, 512, 777, 1024,
         "CCD-SENSOR:512 pixel; 12,5\xB5m pixel-pitch;", "6,4mm working range", ""},
        {102, 768, 0, 1, 1536, 230, 0, 1024, 768, 1536, 6, 1536, 256, 1024,
         "CCD-SENSOR:768 pixel; 63.5\xB5m pixel-pitch;",
         "Working-Range: 48,8mm, Resolution: 31.75\xB5m (subpixel x2)", "ADC-CNV"},
        {104, 1536, 0, 1, 3072, 249, 0, 1024, 1536, 3072, 12, 3072, 1024, 512,
         "CCD-SENSOR:1536 pixel; 63.5\xB5m pixel-pitch;", "Working-Range: 97,5mm, Resolution: 63.5\xB5m",
         "ADC-CNV"},
        {104, 1536, 0, 1, 3072, 250, 0, 1024, 1536, 3072, 12, 3072, 1024, 1024,
         "CCD-SENSOR:1536 pixel; 63.5\xB5m pixel-pitch;",
         "Working-Range: 97,5mm, Resolution: 31.75\xB5m (subpixel x2)", "ADC-CNV"},
        {99, 1024, 0, 1, 2048, 252, 0, 1024, 1024, 2048, 8, 1024, 777, 1024,
         "CCD-SENSOR: no information avialable!", "                                     ", "ADC-CNV"},
    };
    // clang-format on
    for (const Case &c : cases) {
        HardwareInfo hw;
        hw.ccdtype = c.type;
        hw.ccdmaxpixel = c.maxpix;
        hw.ccdresolution = c.res;
        hw.pcbtype = c.pcb;
        hw.ccdvirtpixel = c.virt;
        hw.softversion = c.soft;
        hw.hwtype = c.hwtype;
        hw.adcmax = c.adc;
        SensorModel m = ModelFromHardware(hw, 777);
        SCOPED_TRACE(std::to_string(c.type) + "/" + std::to_string(c.soft));
        EXPECT_EQ(m.hw.ccdmaxpixel, c.wantMax);
        EXPECT_EQ(m.hw.ccdvirtpixel, c.wantVirt);
        EXPECT_EQ(m.graphPixels, c.virt);
        EXPECT_EQ(m.spacing, c.spacing);
        EXPECT_EQ(m.pixB, 1);
        EXPECT_EQ(m.pixE, c.pixE);
        EXPECT_EQ(m.YMAXADC, c.ymax);
        EXPECT_EQ(m.slopeScale, c.scale);
        EXPECT_EQ(m.line0, c.line0);
        EXPECT_EQ(m.line1, c.line1);
        EXPECT_EQ(m.gainOn, c.on);
        EXPECT_EQ(m.trigMode, c.soft >= 240);
        EXPECT_EQ(m.firmwareAsWords, c.pcb == 0);
        EXPECT_EQ(m.videoIn64Blocks, c.pcb == 0 || c.pcb == 100);
    }
}

// What a type's row does to the panel: shows word 15 by firmware, fixes the
// RS-232 mode, scales the raw strip chart.
TEST(ProtoModel, PanelRows) {
    // clang-format off
    struct Case { uint16_t type, res, hwtype, soft; bool word15, rs232Fixed, strip; } cases[] = {
        {1, 0, 0, 252, false, false, false},   {1, 20, 80, 200, true, true, false},
        {2, 0, 0, 252, false, false, false},   {2, 750, 0, 252, false, false, false},
        {2, 0, 250, 252, true, false, false},  {2, 350, 0, 252, true, false, false},
        {3, 0, 0, 239, true, false, false},    {3, 0, 0, 240, true, true, false},
        {4, 0, 0, 252, false, false, true},    {101, 0, 0, 252, true, false, false},
        {104, 0, 0, 249, true, false, false},  {99, 0, 0, 252, false, false, false},
    };
    // clang-format on
    for (const Case &c : cases) {
        HardwareInfo hw;
        hw.ccdtype = c.type;
        hw.ccdresolution = c.res;
        hw.hwtype = c.hwtype;
        hw.softversion = c.soft;
        const SensorModel m = ModelFromHardware(hw);
        SCOPED_TRACE(std::to_string(c.type) + "/" + std::to_string(c.res) + "/" +
                     std::to_string(c.hwtype) + "/" + std::to_string(c.soft));
        EXPECT_EQ(m.word15ByFirmware, c.word15);
        EXPECT_EQ(m.rs232ModeFixed, c.rs232Fixed);
        EXPECT_EQ(m.stripToMaxPixels, c.strip);
    }
}

TEST(ProtoModel, HardwareWords) {
    Words w{101, 512, 3, 0, 256, 2, 1, 256, 245, 9, 256, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
    HardwareInfo h = HardwareFromWords(w);
    EXPECT_EQ(h.ccdtype, 101);
    EXPECT_EQ(h.ccdmaxpixel, 512);
    EXPECT_EQ(h.ccdresolution, 3);
    EXPECT_EQ(h.pcbtype, 0);
    EXPECT_EQ(h.ccdvirtpixel, 256);
    EXPECT_EQ(h.ccdsubpixel, 2);
    EXPECT_EQ(h.ccdpixB, 1);
    EXPECT_EQ(h.ccdpixE, 256);
    EXPECT_EQ(h.softversion, 245);
    EXPECT_EQ(h.hwtype, 9);
    EXPECT_EQ(h.adcmax, 256);
}

TEST(ProtoModel, SlopeScale) {
    EXPECT_EQ(SlopeScale(104, 249), 512);
    EXPECT_EQ(SlopeScale(104, 250), 1024);
    EXPECT_EQ(SlopeScale(103, 100), 1024);
    EXPECT_EQ(SlopeScale(104, 0), 512);
}

// ---------------------------------------------------------------- firmware text

TEST(ProtoFirmware, TextAndSeries) {
    std::string text72 = "K-VEX-XC-SIM Firmware V2.52";
    text72.resize(72, ' ');
    const auto *b = reinterpret_cast<const uint8_t *>(text72.data());
    EXPECT_EQ(FirmwareText(b, 72, 100), text72);
    EXPECT_EQ(FirmwareText(b, 71, 100), "");
    EXPECT_EQ(FirmwareText(b, 73, 100), "");
    EXPECT_EQ(FirmwareText(nullptr, 72, 100), "");

    // board 0: 36 words, the character in the low byte
    std::string words(72, '\0');
    const std::string name = "K-VEX-XD-OLD";
    for (size_t i = 0; i < 36; ++i) words[2 * i + 1] = i < name.size() ? name[i] : ' ';
    words[0] = '\x7F';   // high bytes are not text
    std::string want36 = name + std::string(36 - name.size(), ' ');
    EXPECT_EQ(FirmwareText(reinterpret_cast<const uint8_t *>(words.data()), 72, 0), want36);

    // a NUL ends the text
    std::string nul = "K-VEX-XC";
    nul.resize(72, '\0');
    EXPECT_EQ(FirmwareText(reinterpret_cast<const uint8_t *>(nul.data()), 72, 1), "K-VEX-XC");

    // clang-format off
    struct { const char *text; int r; } series[] = {
        {"K-VEX-XC", 0}, {"K-VEX-XC-9 new", 0}, {"K-VEX-XD V1", -1}, {"K-VEX-XG-XC", -2},
        {"K-VEX-XH-XC 2", -3}, {"K-VEX-XG-XD", -4}, {"K-VEX-XH-XD", -5}, {"K-VEX-XF", -6},
        {"K-VEX-XG", 0}, {"NEWMODEL", 0}, {"", 0}, {"Timeout - reading firmware info!", 0},
        {"K-VEX-X", 0}, {"k-vex-xd", 0}};
    // clang-format on
    for (auto s : series) EXPECT_EQ(SeriesResult(s.text), s.r) << s.text;

    EXPECT_STREQ(SeriesRefusedText(-2),
                 "K-VEX-XJ-XC-series hardware detected!\nUSE K-VEX-XJ-XC-Ridar Software!");
    EXPECT_STREQ(SeriesRefusedText(-5),
                 "K-VEX-XJ-XD-series hardware detected!\nUSE K-VEX-XJ-XD-Ridar Software!");
    EXPECT_STREQ(SeriesRefusedText(-9),
                 "Incompatible hardware detected!\nCan not be used with K-VEX-XC-Ridar Software!");
}

// The band of the colour tests (0, pixels) and of the strip chart's lines
// (1, pixels - 1); a large tolerance does not wrap.
TEST(ProtoBand, ClampedOnEachSideOnly) {
    // clang-format off
    struct Case { uint16_t tVal, tol; int lowest, highest, lower, upper; int in, out; } cases[] = {
        {512, 100, 0, 2048, 412, 612, 612, 613},
        {512, 100, 0, 2048, 412, 612, 412, 411},
        {50, 100, 0, 2048, 0, 150, 0, 151},          // tol above tVal: 0 for the colour
        {50, 100, 1, 2047, 1, 150, 1, 0},            // and 1 for the lines
        {2000, 100, 0, 2048, 1900, 2048, 2048, 2049},
        {3000, 10, 0, 2048, 2990, 2048, 2048, 2989}, // a set-point beyond the line: all outside
        {512, 40000, 0, 2048, 0, 2048, 600, 2049},   // no 16-bit wrap: inside
        {65535, 65535, INT_MIN, INT_MAX, 0, 131070, 131070, 131071},
    };
    // clang-format on
    for (const Case &c : cases) {
        const Band b = ToleranceBand(c.tVal, c.tol, c.lowest, c.highest);
        SCOPED_TRACE(std::to_string(c.tVal) + "/" + std::to_string(c.tol));
        EXPECT_EQ(b.lower, c.lower);
        EXPECT_EQ(b.upper, c.upper);
        EXPECT_EQ(b.Holds(c.in), c.lower <= c.upper);
        EXPECT_FALSE(b.Holds(c.out));
    }
}

TEST(ProtoConvert, DoubleToWord) {
    const double inf = std::numeric_limits<double>::infinity();
    // clang-format off
    struct { double v; uint16_t w; } cases[] = {
        {33.25 * 1024, 34048}, {30000 - 120.7, 29879}, {0.999, 0}, {-0.999, 0}, {-1.0, 65535},
        {-1.5, 65535}, {65535.9, 65535}, {65536.0, 0}, {70000.0, 4464}, {-65536.0, 0},
        {1e300, 0}, {std::nan(""), 0}, {inf, 0}, {-inf, 0}};
    // clang-format on
    for (auto c : cases) EXPECT_EQ(DoubleToWord(c.v), c.w) << c.v;
}

// ---------------------------------------------------------------- parameter file

TEST(ProtoParamFile, FormatByteForByte) {
    Words w{500, 1, 512, 0, 0, 1, 1, 2048, 512, 100, 0, 0, 12800, 30000, 65535, 0};
    EXPECT_EQ(FormatParamFile(w),
              "  500\n    1\n  512\n    0\n    0\n    1\n    1\n 2048\n  512\n  100\n"
              "    0\n    0\n12800\n30000\n65535\n    0\n");
}

TEST(ProtoParamFile, Parse) {
    const Words seq{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    // clang-format off
    struct Case { const char *name; std::string text; ParamFileResult r; Words w; } cases[] = {
        {"as written", FormatParamFile(seq), ParamFileResult::Ok, seq},
        {"CR LF, tabs, no last line end", "1\r\n2\r\n3\t4 5\r\n6\n7\n8\n9\n10\n11\n12\n13\n14\n15\n16",
         ParamFileResult::Ok, seq},
        {"more than 16: the first 16", "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18", ParamFileResult::Ok, seq},
        {"edges", "65535 0 065535 00000 0 0 0 0 0 0 0 0 0 0 0 65535",
         ParamFileResult::Ok, {65535, 0, 65535, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 65535}},
        {"above 65535", "65535 0 0 0 0 0 0 0 0 0 0 0 0 0 0 99999999999", ParamFileResult::OutOfRange, {}},
        {"15 numbers", "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\n", ParamFileResult::TooFew, {}},
        {"empty", "", ParamFileResult::TooFew, {}},
        {"minus sign", "-1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16", ParamFileResult::NotANumber, {}},
        {"decimal point", "1.5 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16", ParamFileResult::NotANumber, {}},
        {"a word", "power 500", ParamFileResult::NotANumber, {}},
        {"NUL byte", std::string("1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\0", 39), ParamFileResult::NotANumber, {}},
        {"binary", "\xFF\xFE", ParamFileResult::NotANumber, {}},
    };
    // clang-format on
    for (const Case &c : cases) {
        Words out;
        out.fill(0xAAAA);
        EXPECT_EQ(ParseParamFile(c.text, out), c.r) << c.name;
        if (c.r == ParamFileResult::Ok) EXPECT_EQ(out, c.w) << c.name;
        else {
            Words untouched;
            untouched.fill(0xAAAA);
            EXPECT_EQ(out, untouched) << c.name;
        }
    }
}

// A number no word can hold is refused wherever it stands, with its line
// and its text; the edges pass.
TEST(ProtoParamFile, WordsOutsideTheRangeNamedByLineAndValue) {
    for (int pos = 0; pos < kWords; ++pos) {
        for (const char *bad : kNoParamWords) {
            Words out;
            out.fill(0xAAAA);
            ParamFileFault f;
            const ParamFileResult want =
                bad[0] == '-' ? ParamFileResult::NotANumber : ParamFileResult::OutOfRange;
            EXPECT_EQ(ParseParamFile(ParamFileWith(pos, bad), out, &f), want)
                << bad << " at " << pos;
            EXPECT_EQ(out[pos], 0xAAAA) << bad << " at " << pos;
            EXPECT_EQ(f.line, pos + 1) << bad;
            EXPECT_EQ(f.text, bad);
            EXPECT_EQ(ParamFileProblem(want, f),
                      std::string(bad) + " is not a parameter word (0..65535)");
        }
        for (const char *edge : kEdgeParamWords) {
            Words out{};
            ASSERT_EQ(ParseParamFile(ParamFileWith(pos, edge), out), ParamFileResult::Ok) << edge;
            for (int i = 0; i < kWords; ++i)
                EXPECT_EQ(out[i], i == pos ? std::stoi(edge) : i + 1) << edge << " at " << pos;
        }
    }
}

TEST(ProtoParamFile, WhatIsWrongAndWhere) {
    const std::string n15 = "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15";
    // clang-format off
    struct Case { std::string text; ParamFileResult r; int line; const char *problem; } cases[] = {
        {"1\r\n2\r\n\r\n1.5 4\r\n", ParamFileResult::NotANumber, 4, "\"1.5\" is not an unsigned decimal number"},
        {"70000x " + n15, ParamFileResult::NotANumber, 1, "\"70000x\" is not an unsigned decimal number"},
        {"+5 " + n15, ParamFileResult::NotANumber, 1, "\"+5\" is not an unsigned decimal number"},
        {"-0 " + n15, ParamFileResult::NotANumber, 1, "-0 is not a parameter word (0..65535)"},
        {"1\n" + std::string(40, '9'), ParamFileResult::OutOfRange, 2,
         "999999999999999999999999... is not a parameter word (0..65535)"},
        {"1\n2\n\xB5m\t\x01\n", ParamFileResult::NotANumber, 3, "\"\\xB5m\" is not an unsigned decimal number"},
        {std::string("1\n\0\n", 4), ParamFileResult::NotANumber, 2, "\"\\x00\" is not an unsigned decimal number"},
        // numbers after the 16th are not used, but one no word can hold says the file is not one
        {n15 + " 16\n70000\n", ParamFileResult::OutOfRange, 2, "70000 is not a parameter word (0..65535)"},
        {n15 + "\n", ParamFileResult::TooFew, 0, "not a parameter file (fewer than 16 numbers)"},
    };
    // clang-format on
    for (const Case &c : cases) {
        Words out{};
        ParamFileFault f;
        EXPECT_EQ(ParseParamFile(c.text, out, &f), c.r) << c.problem;
        EXPECT_EQ(f.line, c.line) << c.problem;
        EXPECT_EQ(ParamFileProblem(c.r, f), c.problem);
    }
}

// ---------------------------------------------------------------- recorder file

struct HeaderCase {
    uint16_t ccd, soft, slopeWord, offsetWord, inc, samples;
    const char *inc_s, *samples_s, *offset_s, *slope_s;
};
const HeaderCase kHeaders[] = {
    {0, 252, 34052, 29946, 5, 100, "5", "100", "-54", "33.2539"},
    {104, 249, 17026, 29946, 5, 100, "5", "100", "-54", "33.2539"},
    {104, 250, 17026, 30000, 0, 0, "0", "0", "0", "16.6270"},
    {0, 252, 12800, 0, 40000, 40000, "40000", "40000", "-30000", "12.5000"},
    {0, 252, 65535, 65535, 65535, 65535, "65535", "65535", "35535", "63.9990"},
    {0, 252, 0, 30001, 3600, 1, "3600", "1", "1", "0.0000"},
    {104, 100, 65535, 29999, 1, 2, "1", "2", "-1", "127.9980"},
};

void CheckHeaders() {
    for (const HeaderCase &c : kHeaders) {
        RecorderHeader h;
        h.date = "12-06-2026";
        h.time = "14:05:33";
        h.increment = c.inc;
        h.samples = c.samples;
        h.slope = c.slopeWord;
        h.intersect = c.offsetWord;
        h.slopeScale = SlopeScale(c.ccd, c.soft);
        std::string want = std::string("Date:\t12-06-2026\r\nTime:\t14:05:33\r\n") +
                           "Time-Increment[s]:\t" + c.inc_s + "\r\nNumber of Samples:\t" +
                           c.samples_s + "\r\nOffset-Value [\xB5m]:\t" + c.offset_s +
                           "\r\nSlope-Value [\xB5m/pixel]:\t" + c.slope_s +
                           "\r\nE-LEFT\tE-RIGHT\tM-VALUE\tEDGES\tM-VAL[um]\r\n";
        EXPECT_EQ(Hex(FormatRecorderHeader(h)), Hex(want)) << c.slope_s;
    }
}

TEST(ProtoRecorder, HeaderByteForByte) { CheckHeaders(); }

// Switches the whole process to a German locale (decimal comma); a machine
// without one fails the case that needs it.
static ::testing::AssertionResult ToGerman() {
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") || std::setlocale(LC_ALL, "de_DE.utf8"))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "the locale de_DE.UTF-8 is missing (scripts/install-deps generates it)";
}

TEST(ProtoRecorder, HeaderIgnoresADecimalCommaLocale) {
    const char *old = std::setlocale(LC_ALL, nullptr);
    std::string saved = old ? old : "C";
    ASSERT_TRUE(ToGerman());
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    EXPECT_STREQ(probe, "1,5");   // the locale is in force ...
    CheckHeaders();               // ... and the file does not care
    std::setlocale(LC_ALL, saved.c_str());
}

// Ages in the link-health field and kvex-ctl's messages: one decimal with a
// point, under a German locale too.
TEST(ProtoText, OneDecimalWithAPointWhateverTheLocale) {
    const struct {
        double value;
        const char *text;
    } cases[] = {
        {0.0, "0.0"},       {5.04, "5.0"},   {5.06, "5.1"},    {59.96, "60.0"},
        {1234.5, "1234.5"}, {-0.04, "0.0"},  {-2.5, "-2.5"},   {1e16, "-"},
        {NAN, "-"},         {INFINITY, "-"}, {-INFINITY, "-"},
    };
    const char *old = std::setlocale(LC_ALL, nullptr);
    const std::string saved = old ? old : "C";
    ASSERT_TRUE(ToGerman());
    for (const auto &c : cases) EXPECT_EQ(proto::OneDecimal(c.value), c.text) << c.value;
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(ProtoText, NumberTextAsTheCLocaleWhateverTheLocale) {
    const struct {
        double value;
        char style;
        int precision;
        const char *text;
    } cases[] = {
        {33.25, 'f', 4, "33.2500"},
        {0.000976, 'f', 4, "0.0010"},
        {-1.23456, 'f', 4, "-1.2346"},
        {2.5, 'f', 0, "2"},
        {1e20, 'f', 1, "100000000000000000000.0"},
        {33.25, 'g', 6, "33.25"},
        {1.0 / 3.0, 'g', 6, "0.333333"},
        {1e-5, 'g', 6, "1e-05"},
        {1234567.0, 'g', 6, "1.23457e+06"},
        {0.0, 'g', 6, "0"},
        {-0.5, 'g', 6, "-0.5"},
        {1.5, 'f', -3, "2"},
    };
    const char *old = std::setlocale(LC_ALL, nullptr);
    const std::string saved = old ? old : "C";
    ASSERT_TRUE(ToGerman());
    for (const auto &c : cases)
        EXPECT_EQ(proto::NumberText(c.value, c.style, c.precision), c.text)
            << c.value << " " << c.style << c.precision;
    EXPECT_EQ(proto::NumberText(1e300, 'f', 0).size(), 301u);
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(ProtoRecorder, DataLines) {
    struct {
        uint16_t l, r, m, e;
        uint32_t um;
        const char *text;
    } cases[] = {
        {312, 553, 432, 2, 14312, "312\t553\t432\t2\t14312\r\n"},
        {0, 0, 0, 0, 0, "0\t0\t0\t0\t0\r\n"},
        {65535, 65535, 65535, 65535, 2147483647u, "65535\t65535\t65535\t65535\t2147483647\r\n"},
        {1, 2, 3, 1, 2147483648u, "1\t2\t3\t1\t-2147483648\r\n"},
        {7, 8, 9, 3, 4294967295u, "7\t8\t9\t3\t-1\r\n"},
    };
    for (auto c : cases) {
        Measurement m;
        m.Ledge = c.l;
        m.Redge = c.r;
        m.Mvalue = c.m;
        m.edcnt = c.e;
        m.umValue = c.um;
        m.tVal = 999;
        m.tol = 999;   // not in the file
        EXPECT_EQ(FormatRecorderLine(m), c.text);
    }
}

}   // namespace
