// The application shell: start-up, defaults, the panels' own callbacks,
// operator comforts and the logo strip.
#pragma once

#include "rt/rt.h"
#include "ui/panels.h"

extern char szSoftName[72];
extern char szSoftVersion[72];

// Registers every CC_ callback with the run-time layer (by name), after
// WireLayers.
void RegisterRidarCallbacks(void);
// Gives the link and parameter layers what they call in the layers above.
void WireLayers(void);

int WinMain(int argc, char **argv);
void InitVars(void);
void InitGUI(void);
void ShowLogo(int style);
void ShowInfoText(int bgColor, int textColor, const char *text, int left, int top, int pointSize);
// Lists the port table in DropDCom (item value = port number) and selects com.
void FillComRing(void);

// Operator comforts: shortcuts, picture menus, the link-health timer.
void InitComforts(void);
// Frames, time-outs, open failures and the age of the last frame.
void ShowLinkHealth(void);
// "ridar-YYYY-MM-DD-HHMMSS.png" for the given local time.
void PictureName(char *name, int bufSize, long long unixTime);
// Asks for a file and saves a picture of a control (0: the whole main
// panel) as PNG; 0 when saved.
int SavePicture(int control);

int CVICALLBACK CC_PANEL(int panel, int control, int event, void *callbackData, int eventData1,
                         int eventData2);
int CVICALLBACK CC_POPUP(int panel, int control, int event, void *callbackData, int eventData1,
                         int eventData2);
int CVICALLBACK CC_RECORD(int panel, int control, int event, void *callbackData, int eventData1,
                          int eventData2);
int CVICALLBACK CC_BTNCalClose(int panel, int control, int event, void *callbackData,
                               int eventData1, int eventData2);
int CVICALLBACK CC_BTNRecClose(int panel, int control, int event, void *callbackData,
                               int eventData1, int eventData2);
