#include "lines/telnet.h"

namespace lines {

using namespace telnet;

namespace {
constexpr uint8_t kComPortOption = 44, kServerOffset = 100, kFirstSet = 1, kLastSet = 5;
}   // namespace

void TelnetRx::Reset() {
    rx_ = Rx::Data;
    sub_.clear();
}

TelnetRx::Got TelnetRx::Take(uint8_t b, std::vector<uint8_t> &data) {
    switch (rx_) {
    case Rx::Data:
        if (b == kIac) rx_ = Rx::Iac;
        else data.push_back(b);
        return Got::Nothing;
    case Rx::Iac:
        rx_ = Rx::Data;
        if (b == kIac) data.push_back(b);
        else if (b >= kWill && b <= kDont) {
            cmd_ = b;
            rx_ = Rx::Option;
        } else if (b == kSb) {
            sub_.clear();
            rx_ = Rx::Sub;
        }
        // other commands (NOP, go-ahead ...) carry nothing for us
        return Got::Nothing;
    case Rx::Option:
        rx_ = Rx::Data;
        opt_ = b;
        return Got::Option;
    case Rx::Sub:
        if (b == kIac) rx_ = Rx::SubIac;
        else if (sub_.size() < kSubMax) sub_.push_back(b);
        return Got::Nothing;
    case Rx::SubIac:
        if (b == kIac) {
            if (sub_.size() < kSubMax) sub_.push_back(b);
            rx_ = Rx::Sub;
            return Got::Nothing;
        }
        rx_ = Rx::Data;   // SE, or a broken subnegotiation ended
        return b == kSe ? Got::Sub : Got::Nothing;
    }
    return Got::Nothing;
}

bool ComPortAnswer(const std::vector<uint8_t> &sub, int &command, uint32_t &value) {
    if (sub.size() < 3 || sub.size() > 6 || sub[0] != kComPortOption) return false;
    if (sub[1] < kServerOffset + kFirstSet || sub[1] > kServerOffset + kLastSet) return false;
    command = sub[1] - kServerOffset;
    value = 0;
    for (size_t i = 2; i < sub.size(); ++i) value = value << 8 | sub[i];
    return true;
}

}   // namespace lines
