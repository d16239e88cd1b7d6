// Recording loop and recorder file.
#pragma once

#include <cstdint>
#include "link/frame.h"

extern char rec_fname[260];
// The recorder file proposed when none was chosen: RECORD.DAT in proj_dir,
// or in the working directory when proj_dir cannot be written.
void DefaultRecFile(char *path, int bufSize);

void CalcRecTime(int seconds);
// Both return 0 on success, -1 when the file could not be written.
int writeFileHeader(void);
int WriteDataLine(uint16_t left, uint16_t right, uint16_t value, uint16_t edges, uint32_t um);

RIDAR_CALLBACK(CC_CMDBTNrecfile);
RIDAR_CALLBACK(CC_CBTNStartRecord);
RIDAR_CALLBACK(CC_CBTNStopRecord);
RIDAR_CALLBACK(CC_NUMsample);
RIDAR_CALLBACK(CC_NUMinctime);
RIDAR_CALLBACK(CC_TOGGBTN_Recorder);
