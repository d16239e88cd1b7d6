#include "link/frame.h"

int com = 1;
int sync = 0x55;
int order = 1;
char szWriteBuf[1024];
char szReadBuf[1024];
uint16_t pp[PNUM];
int rx_flag, graphrefresh, graph_flag, stop_flag = STOP_ASKED;
double tstart, tdiff;
int nBytesW, nBytesR;
char szStatus[160];

static void NoUpcall(void) {}
LinkUpcalls linkUp = {NoUpcall, NoUpcall, NoUpcall, NoUpcall};

uint16_t ccdtype, ccdmaxpixel = 1024, ccdresolution, pcbtype = 100, ccdvirtpixel = 2048,
                  ccdsubpixel, ccdpixB, ccdpixE, softversion, hwtype, adcmax = 256;
double xArray8[256];
uint16_t pixB = 1, pixE = 1024, YMAXADC = 256;
char szVersion[160];
