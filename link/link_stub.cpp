// Placeholder definitions; replaced by the real code.
#include "link/frame.h"

void SetStatus(const char *text) {}
void ShowStatus(void) {}
void ShowStatusText(const char *text) {}
void FillTxBuf(int orderCode, const uint16_t *words) {}
int GetRxBuf(int count) { return 0; }
void RX_Receive_Function(int port, int events, void *callbackData) {}
int CheckComLine(int port) { return 0; }
void InitRS232(int port) {}
int GetHARDWAREInfo(void) { return 0; }
int GetVERSIONInfo(void) { return 0; }
const char * ComErrorText(int code) { return ""; }
const char * SeriesRefusedText(int r) { return ""; }
RIDAR_CALLBACK(CC_DropDCom) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
RIDAR_CALLBACK(CC_DROPHardware) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
