// Process entry: starts the run-time and hands over to WinMain.
#include "app/app.h"

int main(int argc, char **argv) { return WinMain(argc, argv); }
