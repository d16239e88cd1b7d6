#include "app/panels.h"

int pHandle = -1, pPopup = -1, pRecord = -1;
char proj_dir[260];
char szSoftName[72];
char szSoftVersion[72];
