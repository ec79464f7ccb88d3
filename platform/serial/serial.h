// serial.h - the serial port service: ports by number, queued I/O, receive callbacks.
//
// Contract
// - Ports are numbered from 1. A number is either pinned by the user (a link
//   named com<N> in $XDG_CONFIG_HOME/qvar-scope/ports/, default
//   ~/.config/qvar-scope/ports/) or handed out, in a stable order, to the serial
//   ports found on the machine: USB and ACM adapters first, then on-board UARTs
//   with hardware behind them. A console port is never listed nor opened. The
//   next free number after all of them is the built-in simulated controller.
// - Every operation takes the port number first and returns a negative COM_ERR_
//   code on failure. Nothing here ever blocks longer than the port time-out.
// - The service keeps its own input queue per port (size from OpenComConfig).
//   GetInQLen moves what has arrived into it and reports its length at once;
//   ComRd waits until `count` bytes are there or the time-out has passed.
//   Neither dispatches events.
// - Arrivals are stamped. Once a read has taken a frame that came at the
//   line's pace, bytes that follow its last byte within two character times
//   are that frame's surplus and never reach the queue, until the next
//   request is written; on such a line, bytes that arrive before a request
//   just written can have left the wire cannot start its answer and are
//   dropped too. A line that delivers frames faster than its baud rate (the
//   built-in controller unpaced, a pseudo-terminal without pacing) is left
//   alone; what arrives never switches these rules off.
// - A fresh port starts quiet: while its pace is not known, bytes that come
//   before the first request written can have crossed the line are dropped
//   by the first read once later bytes have come (they belong to an earlier
//   exchange), and kept if a whole read's worth came before that moment (the
//   far end answers faster than the line). ComDroppedBytes counts every byte
//   dropped by these rules.
// - ComPeek copies queued bytes without taking them; ComSkip drops bytes
//   from the head of the queue as belonging to no answer: unlike a read, it
//   tells nothing about the line's pace. Neither waits nor dispatches.
// - Receive callbacks run only from the event pump (RunUserInterface,
//   ProcessSystemEvents in ui.h), never from inside another call. A callback
//   installed with COM_EV_RECEIVE is called once each time the queue reaches
//   `notifyCount` bytes; it is armed again when the queue falls below it.
//   COM_EV_TXEMPTY is reported on the first pump pass after the output queue
//   has emptied, and no later than 20 ms after it: a request's own answer
//   usually brings that pass, so the event costs no wake-up of its own.
// - All calls come from the GUI thread.
#pragma once

// Result codes.
enum {
    COM_ERR_SYSTEM      = -1,   // unknown system error
    COM_ERR_PORT_NUMBER = -2,   // number outside 1..COM_MAX_PORT
    COM_ERR_NOT_OPEN    = -3,   // port is not open
    COM_ERR_IO          = -4,   // input/output error (device gone, EIO)
    COM_ERR_NO_PORT     = -6,   // no serial port has this number
    COM_ERR_CANNOT_OPEN = -7,   // the device exists but cannot be opened (busy, no access)
    COM_ERR_PARAMETER   = -13,  // invalid parameter (baud, parity, sizes, ...)
    COM_ERR_TIMEOUT     = -99,  // time-out
};

enum { COM_MAX_PORT = 255 };

// Event bits of InstallComCallback.
enum {
    COM_EV_RXFLAG   = 0x0002,   // the event character was received
    COM_EV_TXEMPTY  = 0x0004,   // the output queue became empty
    COM_EV_RECEIVE  = 0x8000,   // `notifyCount` bytes are queued
};

typedef void (*ComCallbackPtr)(int port, int eventMask, void *callbackData);

// Why a listed port may not open.
enum {
    COM_ACCESS_OK     = 0,
    COM_ACCESS_DENIED = 1,   // the user may not open the device (EACCES)
    COM_ACCESS_IN_USE = 2,   // another program holds it
};

// One entry of the port list shown by the serial-port selector.
struct ComPortInfo {
    int  number;             // 1..COM_MAX_PORT
    int  simulated;          // 1 for the built-in simulated controller
    int  pinned;             // 1 when the number comes from a com<N> link
    int  access;             // COM_ACCESS_
    int  missing;            // 1 for a pinned port whose device is not there:
                             // listed, but it cannot be opened
    char device[260];        // device path ("" for the simulated controller)
    // For people: "USB serial adapter ttyUSB0", "simulated controller", ...;
    // a port that may not open says why and what to do, e.g.
    // "... (no permission) - add yourself to group dialout (...)".
    char description[200];
};

int OpenComConfig(int port, const char *deviceName, long baudRate, int parity,
                  int dataBits, int stopBits, int inputQueueSize, int outputQueueSize);
int CloseCom(int port);
int SetComTime(int port, double timeoutSeconds);
int SetCTSMode(int port, int mode);
int ComWrt(int port, const char *buffer, int count);     // count written, or < 0
int ComRd(int port, char *buffer, int count);            // count read (may be short on time-out), or < 0
int ComPeek(int port, char *buffer, int count);        // count copied, or < 0
int ComSkip(int port, int count);                      // count dropped, or < 0
int GetInQLen(int port);
int GetOutQLen(int port);
int FlushInQ(int port);
int FlushOutQ(int port);
int InstallComCallback(int port, int eventMask, int notifyCount, int eventCharacter,
                       ComCallbackPtr callback, void *callbackData);

// Port numbering. GetComPortList scans the machine again (adapters come and
// go), fills up to `max` entries in number order and returns how many ports
// there are. The numbers follow from the pinned links and the devices there
// now, so every program of the user numbers the machine alike; only a port
// this program has open keeps its number (and its device) until it is
// closed. ComSimulatedPort is the number of the built-in simulated
// controller.
int GetComPortList(ComPortInfo *list, int max);
int ComSimulatedPort(void);

// What the user can do about a port that may not open (COM_ACCESS_DENIED,
// COM_ACCESS_IN_USE); "" for COM_ACCESS_OK.
const char *ComAccessRemedy(int access);

// Bytes the port has dropped as surplus, as too early or as stale (see above).
long ComDroppedBytes(int port);

// The folder of pinned com<N> links: $XDG_CONFIG_HOME/qvar-scope/ports when
// XDG_CONFIG_HOME is an absolute path, else <home>/.config/qvar-scope/ports
// with home from $HOME when absolute, else from the password database.
// Copies it into `buffer` and returns its length; -1 when there is no home
// or the buffer is too small.
int ComPinnedPortsDir(char *buffer, int size);

// Where the port scan looks: the device folder and the sysfs root. Tests point
// these at folders of their own; the defaults are "/dev" and "/sys". Also
// re-reads the pinned links. Ports already open stay open.
void ComSetScanRoots(const char *devDir, const char *sysDir);
