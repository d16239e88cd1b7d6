// The tests' support library, one header for all of it:
//   clock.h    wall time and CPU time
//   files.h    a test's files as bytes (testfs)
//   child.h    programs as child processes
//   sim.h      kvex-sim as a child process, its console and counters
//   peer.h     the sensor's side of a pseudo-terminal, bare or scripted;
//              frames by hand; a device name that follows the adapter
//   program.h  the program in the test process: start-up, connection,
//              the event loop for a while, what the panels show
//   params.h   the parameter variables and their controls
//   paramfiles.h  parameter files with words out of range
//   drive.h    the real widgets driven as an operator does (drive)
//   golden.h   golden traces of the line and the files (golden)
//   faults.h   the fault matrix (faults)
//   ctl.h      kvex-ctl as a child, a scripted sensor, a broker
//   ser2net.h  free ports of 127.0.0.1, ser2net in front of a device
#pragma once

#include "tests/support/child.h"
#include "tests/support/clock.h"
#include "tests/support/ctl.h"
#include "tests/support/drive.h"
#include "tests/support/faults.h"
#include "tests/support/files.h"
#include "tests/support/golden.h"
#include "tests/support/params.h"
#include "tests/support/paramfiles.h"
#include "tests/support/peer.h"
#include "tests/support/program.h"
#include "tests/support/ser2net.h"
#include "tests/support/sim.h"
