// The program set up once per fuzzing process: the run-time without a
// window, the three panels, the defaults, and port 1 open on a
// pseudo-terminal whose other side plays the sensor in-process: each
// request written gets the reply the fuzzer queued for its order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Starts everything once; aborts when the program cannot start.
void FuzzStart();
// Queues the bytes that arrive after a request of this order (1..12); each
// request takes the next reply queued for its order. No reply queued, or an
// empty one: the sensor keeps silent.
void FuzzReply(int order, const std::string &bytes);
void FuzzClearReplies();
// Called with the order of each request, after its reply was queued.
void FuzzOnRequest(void (*fn)(int order));
// Bytes that arrive now, unasked.
void FuzzInject(const std::string &bytes);
// Takes n bytes from data (fewer at its end) and advances it.
std::string FuzzTake(const uint8_t *&data, size_t &size, size_t n);
