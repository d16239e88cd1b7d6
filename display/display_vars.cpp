#include "display/display.h"

uint16_t adcbuf[256];
uint16_t thdArray[256];
double arrayNORM[600];
