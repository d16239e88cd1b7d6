#include "lines/serial_latency.h"

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sys/ioctl.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

namespace serlat {

int RequestLowLatency(int fd) {
#if defined(TIOCGSERIAL) && defined(TIOCSSERIAL) && defined(ASYNC_LOW_LATENCY)
    serial_struct ss{};
    if (ioctl(fd, TIOCGSERIAL, &ss) != 0) return 0;
    if (!(ss.flags & ASYNC_LOW_LATENCY)) {
        ss.flags |= ASYNC_LOW_LATENCY;
        if (ioctl(fd, TIOCSSERIAL, &ss) != 0) return 0;
        if (ioctl(fd, TIOCGSERIAL, &ss) != 0) return 0;
    }
    return (ss.flags & ASYNC_LOW_LATENCY) ? 1 : 0;
#else
    (void)fd;
    return 0;
#endif
}

int AdapterLatencyTimer(const std::string &device) {
    const char *env = std::getenv("RIDAR_USB_SERIAL_SYSFS");
    const std::string dir = env && *env ? env : "/sys/bus/usb-serial/devices";
    // /dev/serial/by-id/... names a link to the tty the driver knows
    char real[PATH_MAX];
    std::string path = realpath(device.c_str(), real) ? real : device;
    const size_t slash = path.rfind('/');
    const std::string tty = slash == std::string::npos ? path : path.substr(slash + 1);
    if (tty.empty()) return -1;
    std::ifstream f(dir + "/" + tty + "/latency_timer");
    long ms = -1;
    if (!(f >> ms) || ms < 0 || ms > 10000) return -1;
    return static_cast<int>(ms);
}

}   // namespace serlat
