// The logo strip at the top of the main panel.
#include "app/app.h"

void ShowInfoText(int bgColor, int textColor, const char *text, int left, int top, int pointSize) {
    const int id = NewCtrl(pHandle, CTRL_TEXT_MSG, "", top, left);
    if (id < 0) return;
    SetCtrlAttribute(pHandle, id, ATTR_TEXT_FONT, "NIApp");
    SetCtrlAttribute(pHandle, id, ATTR_TEXT_BGCOLOR, bgColor);
    SetCtrlAttribute(pHandle, id, ATTR_TEXT_COLOR, textColor);
    SetCtrlAttribute(pHandle, id, ATTR_TEXT_POINT_SIZE, pointSize);
    SetCtrlVal(pHandle, id, text);
}

static void PlacePicture(int left, int top, const char *file) {
    SetCtrlAttribute(pHandle, PANEL_PICTLogo, ATTR_LEFT, left);
    SetCtrlAttribute(pHandle, PANEL_PICTLogo, ATTR_TOP, top);
    SetCtrlAttribute(pHandle, PANEL_PICTLogo, ATTR_VISIBLE, 1);
    DisplayImageFile(pHandle, PANEL_PICTLogo, file);
}

void ShowLogo(int style) {
    switch (style) {
    case 0:
        SetCtrlAttribute(pHandle, PANEL_DECOLogo, ATTR_FRAME_COLOR, VAL_WHITE);
        SetCtrlAttribute(pHandle, PANEL_PICTLogo, ATTR_VISIBLE, 0);
        ShowInfoText(VAL_WHITE, VAL_GRAY, szSoftName, 20, 24, 18);
        ShowInfoText(VAL_WHITE, VAL_GRAY, szSoftVersion, 170, 30, 11);
        break;
    case 1:
        SetCtrlAttribute(pHandle, PANEL_DECOLogo, ATTR_FRAME_COLOR, VAL_BLUE);
        SetCtrlAttribute(pHandle, PANEL_PICTLogo, ATTR_VISIBLE, 0);
        ShowInfoText(VAL_BLUE, VAL_WHITE, szSoftName, 20, 24, 18);
        ShowInfoText(VAL_BLUE, VAL_WHITE, szSoftVersion, 170, 30, 11);
        break;
    case 2:
        SetCtrlAttribute(pHandle, PANEL_DECOLogo, ATTR_FRAME_COLOR, VAL_BLUE);
        PlacePicture(300, 10, "korvane.bmp");
        ShowInfoText(VAL_BLUE, VAL_WHITE, "Korvane GmbH", 15, 10, 11);
        // contact lines of no real firm: a reserved domain, numbers that cannot be dialled
        ShowInfoText(VAL_BLUE, VAL_WHITE, "Tel. +00 (0)0000 0000-0", 15, 25, 11);
        ShowInfoText(VAL_BLUE, VAL_WHITE, "www.korvane.example", 15, 40, 11);
        ShowInfoText(VAL_BLUE, VAL_WHITE, szSoftName, 300, 35, 18);
        ShowInfoText(VAL_BLUE, VAL_WHITE, szSoftVersion, 450, 40, 11);
        break;
    case 3:
        SetCtrlAttribute(pHandle, PANEL_DECOLogo, ATTR_FRAME_COLOR, VAL_WHITE);
        PlacePicture(670, 7, "tessaro.bmp");
        ShowInfoText(VAL_WHITE, VAL_BLACK, "Tessaro Strumenti Ottici S.r.l.", 15, 10, 11);
        ShowInfoText(VAL_WHITE, VAL_BLACK, "Via Esempio 0, I-00000 Esempio (XX)", 15, 25, 11);
        ShowInfoText(VAL_WHITE, VAL_BLACK, "Tel. +00 000 0000 000", 15, 40, 11);
        ShowInfoText(VAL_WHITE, VAL_GRAY, szSoftName, 300, 22, 18);
        ShowInfoText(VAL_WHITE, VAL_GRAY, szSoftVersion, 450, 28, 11);
        break;
    default: break;
    }
}
