// Placeholder definitions; replaced by the real code.
#include "app/panels.h"

int WinMain(int argc, char **argv) { return 0; }
void InitVars(void) {}
void InitGUI(void) {}
void ShowLogo(int style) {}
void ShowInfoText(int bgColor, int textColor, const char *text, int left, int top, int pointSize) {}
int CVICALLBACK CC_PANEL(int panel, int control, int event, void *callbackData, int eventData1, int eventData2) { return 0; }
int CVICALLBACK CC_POPUP(int panel, int control, int event, void *callbackData, int eventData1, int eventData2) { return 0; }
int CVICALLBACK CC_RECORD(int panel, int control, int event, void *callbackData, int eventData1, int eventData2) { return 0; }
