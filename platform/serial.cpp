// serial.cpp - placeholder until the serial service lands.
#include "platform/serial.h"
#include "platform/pump.h"
#include <limits>

int OpenComConfig(int, const char *, long, int, int, int, int, int) { return COM_ERR_NO_PORT; }
int CloseCom(int) { return COM_ERR_NOT_OPEN; }
int SetComTime(int, double) { return COM_ERR_NOT_OPEN; }
int SetCTSMode(int, int) { return COM_ERR_NOT_OPEN; }
int ComWrt(int, const char *, int) { return COM_ERR_NOT_OPEN; }
int ComRd(int, char *, int) { return COM_ERR_NOT_OPEN; }
int GetInQLen(int) { return COM_ERR_NOT_OPEN; }
int GetOutQLen(int) { return COM_ERR_NOT_OPEN; }
int FlushInQ(int) { return COM_ERR_NOT_OPEN; }
int FlushOutQ(int) { return COM_ERR_NOT_OPEN; }
int InstallComCallback(int, int, int, int, ComCallbackPtr, void *) { return COM_ERR_NOT_OPEN; }
int GetComPortList(ComPortInfo *, int) { return 0; }
int ComSimulatedPort(void) { return 1; }
void ComSetScanRoots(const char *, const char *) {}
namespace qvar::pump {
int serial_deliver() { return 0; }
double serial_next_arrival() { return std::numeric_limits<double>::infinity(); }
}
