#include "recorder/recorder.h"

char rec_fname[260];
