// Latency of a serial device's driver: plain POSIX, shared by the run-time
// layer and kvex-ctl.
#pragma once

#include <string>

namespace serlat {

// USB-serial adapters hold received bytes until their latency timer runs
// out (16 ms on FTDI chips): every reply would come that much late. Asks the
// driver for low latency; a pseudo-terminal or a driver without it refuses,
// and the line works as before. 1 when the driver took it.
int RequestLowLatency(int fd);

// The adapter's latency timer in ms as its driver shows it in sysfs, -1
// where the device has none. RIDAR_USB_SERIAL_SYSFS stands in for
// /sys/bus/usb-serial/devices in tests.
int AdapterLatencyTimer(const std::string &device);

}   // namespace serlat
