#include "app/app.h"

char szSoftName[72];
char szSoftVersion[72];
