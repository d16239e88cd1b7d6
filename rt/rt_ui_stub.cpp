// Placeholder definitions; replaced by the real layer.
#include "rt/rt.h"

int InitCVIRTE(int argc, char **argv) { return 0; }
void RegisterCallbacks(const RtCallbackEntry *table, int count) {}
int RunUserInterface(void) { return 0; }
int QuitUserInterface(int code) { return 0; }
int ProcessSystemEvents(void) { return 0; }
int LoadPanel(int parent, const char *file, int id) { return 0; }
int DisplayPanel(int panel) { return 0; }
int HidePanel(int panel) { return 0; }
int DiscardPanel(int panel) { return 0; }
int SetActivePanel(int panel) { return 0; }
int SetActiveCtrl(int panel, int control) { return 0; }
int SetCtrlVal(int panel, int control, int value) { return 0; }
int SetCtrlVal(int panel, int control, unsigned value) { return 0; }
int SetCtrlVal(int panel, int control, double value) { return 0; }
int SetCtrlVal(int panel, int control, const char *value) { return 0; }
int GetCtrlVal(int panel, int control, uint16_t *value) { return 0; }
int GetCtrlVal(int panel, int control, int *value) { return 0; }
int GetCtrlVal(int panel, int control, unsigned *value) { return 0; }
int GetCtrlVal(int panel, int control, float *value) { return 0; }
int GetCtrlVal(int panel, int control, double *value) { return 0; }
int GetCtrlVal(int panel, int control, char *value, int bufSize) { return 0; }
int SetCtrlAttribute(int panel, int control, int attribute, int value) { return 0; }
int SetCtrlAttribute(int panel, int control, int attribute, const char *value) { return 0; }
int GetCtrlAttribute(int panel, int control, int attribute, int *value) { return 0; }
int NewCtrl(int panel, int style, const char *label, int top, int left) { return 0; }
int ClearListCtrl(int panel, int control) { return 0; }
int InsertListItem(int panel, int control, int index, const char *label, int value) { return 0; }
int GetNumListItems(int panel, int control, int *count) { return 0; }
int GetLabelFromIndex(int panel, int control, int index, char *label, int bufSize) { return 0; }
int ResetTextBox(int panel, int control, const char *text) { return 0; }
int ReplaceTextBoxLine(int panel, int control, int line, const char *text) { return 0; }
int DisplayImageFile(int panel, int control, const char *file) { return 0; }
int SetAxisScalingMode(int panel, int control, int axis, int mode, double min, double max) { return 0; }
int SetGraphCursor(int panel, int control, int cursor, double x, double y) { return 0; }
int DeleteGraphPlot(int panel, int control, int plot, int refresh) { return 0; }
int PlotRectangle(int panel, int control, double x1, double y1, double x2, double y2, int color, int fillColor) { return 0; }
int PlotXY(int panel, int control, const void *x, const void *y, int n, int xType, int yType, int plotStyle, int pointStyle, int lineStyle, int pointFrequency, int color) { return 0; }
int PlotStripChart(int panel, int control, const void *data, int n, int start, int skip, int type) { return 0; }
int SetTraceAttribute(int panel, int control, int trace, int attribute, int value) { return 0; }
int MessagePopup(const char *title, const char *message) { return 0; }
int ConfirmPopup(const char *title, const char *message) { return 0; }
int FileSelectPopup(const char *defaultDir, const char *defaultName, const char *filter, const char *title, const char *buttonLabel, int restrictDir, int restrictExt, int allowCancel, int allowMakeDir, char *path, int bufSize) { return 0; }
void rt_SetPopupHook(std::function<RtPopupAnswer(const RtPopup &)> hook) {}
void rt_UserClick(int panel, int control) {}
void rt_UserSetVal(int panel, int control, double value) {}
void rt_UserSetText(int panel, int control, const char *text) {}
void rt_UserClosePanel(int panel) {}
void rt_After(double seconds, std::function<void()> fn) {}
std::vector<RtPlot> rt_GetPlots(int panel, int control) { return {}; }
int rt_GetCursor(int panel, int control, int cursor, double *x, double *y) { return 0; }
int rt_GetAxisRange(int panel, int control, int axis, double *min, double *max) { return 0; }
RtStrip rt_GetStrip(int panel, int control) { return {}; }
std::string rt_GetCtrlText(int panel, int control) { return {}; }
std::vector<std::string> rt_GetListItems(int panel, int control) { return {}; }
int rt_IsShown(int panel) { return 0; }
int rt_Find(int panel, const char *name) { return 0; }
int rt_SavePanelImage(int panel, int control, const char *file) { return 0; }
