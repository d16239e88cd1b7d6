// The receive side of a Telnet stream (RFC 854, 855) as an RFC 2217 server
// sends it: the line's bytes, with 0xFF doubled, between option requests,
// commands and subnegotiations that must never reach the frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lines {

namespace telnet {
constexpr uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                  kSe = 240;
}   // namespace telnet

class TelnetRx {
public:
    enum class Got { Nothing, Option, Sub };
    // Takes one received byte; a line byte is appended to `data`. Says when
    // the byte ended an option request (Command(), OptionCode()) or a
    // subnegotiation (Sub()).
    Got Take(uint8_t b, std::vector<uint8_t> &data);
    void Reset();
    uint8_t Command() const { return cmd_; }
    uint8_t OptionCode() const { return opt_; }
    const std::vector<uint8_t> &Sub() const { return sub_; }

    static constexpr size_t kSubMax = 64;   // longer ones are cut: nothing we read is that long

private:
    enum class Rx { Data, Iac, Option, Sub, SubIac } rx_ = Rx::Data;
    uint8_t cmd_ = 0, opt_ = 0;
    std::vector<uint8_t> sub_;
};

// An RFC 2217 server's answer to a SET command (its code + 100): the
// command 1..5 and the value, high byte first; false for anything else,
// notifications included, and for a value longer than four bytes.
bool ComPortAnswer(const std::vector<uint8_t> &sub, int &command, uint32_t &value);

}   // namespace lines
