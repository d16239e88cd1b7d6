// Link health counters: what the status area shows about the line.
#include "link/frame.h"

long linkFrames = 0, linkTimeouts = 0, linkOpenFailures = 0, linkResyncs = 0, linkBytesDropped = 0;
double linkLastFrame = 0.0;

void LinkCountFrame(void) {
    ++linkFrames;
    linkLastFrame = Timer();
}

void LinkCountTimeout(void) { ++linkTimeouts; }

void LinkCountOpenFailure(void) { ++linkOpenFailures; }

void LinkCountDropped(int bytes) { linkBytesDropped += bytes; }

void LinkCountResync(void) { ++linkResyncs; }
