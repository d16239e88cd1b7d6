// Placeholder definitions; replaced by the real layer.
#include "rt/rt.h"

int OpenComConfig(int port, const char *deviceName, long baud, int parity, int dataBits, int stopBits, int inQSize, int outQSize) { return 0; }
int SetComTime(int port, double seconds) { return 0; }
int SetCTSMode(int port, int mode) { return 0; }
int InstallComCallback(int port, int eventMask, int notifyCount, int eventCharacter, ComCallbackPtr callback, void *callbackData) { return 0; }
int FlushInQ(int port) { return 0; }
int FlushOutQ(int port) { return 0; }
int ComWrt(int port, const char *buf, int count) { return 0; }
int ComRd(int port, char *buf, int count) { return 0; }
int GetInQLen(int port) { return 0; }
int CloseCom(int port) { return 0; }
int GetFileInfo(const char *path, long *size) { return 0; }
int CVI_DeleteFile(const char *path) { return 0; }
int GetProjectDir(char *dir, int bufSize) { return 0; }
int MakePathname(const char *dir, const char *name, char *path, int bufSize) { return 0; }
double Timer(void) { return 0; }
void Delay(double seconds) {}
void Sleep(unsigned milliseconds) {}
const char * DateStr(void) { return ""; }
const char * TimeStr(void) { return ""; }
void rt_SetPortTable(const std::vector<std::string> &firstDevices) {}
std::vector<std::string> rt_PortTable(void) { return {}; }
std::string rt_PortDevice(int port) { return {}; }
std::string rt_StartSimulator(const std::vector<std::string> &args) { return {}; }
void rt_StopSimulator(void) {}
RtLinkStats rt_LinkStats(void) { return {}; }
