// qvar.h - the program-wide state: every variable and constant shared by the
// application shell, the controller link, the parameter handling, the scope,
// the recorder and the brand display. Defined once, in state/state.cpp;
// the defaults are set by InitVars in app/.
//
// Everything runs on the one GUI thread; the receive callback and the stop
// buttons run only where a loop pumps events, so the flags need no locking.
#pragma once

#include <cstdint>

// ---- constants ------------------------------------------------------------
extern const double  TIMEOUT;          // 1.5 s: answer time-out
extern const int32_t PNUM;             // 16 data words per frame
extern const int32_t RAM;              // 1
extern const int32_t EEPROM;           // 2
extern const int32_t DATFILE;          // 3
extern const int32_t eventMask;        // 0x8006
enum { TEXT_LEN = 72, PATH_LEN = 260, BUF_LEN = 1024 };

// ---- parameter set (panels <-> controller) ---------------------------------
extern int32_t powerA, powerB, refA, refB, tolA, tolB;
extern int32_t triglvlA, triglvlB, pretriggerA, pretriggerB;
extern int32_t hysteresis, polarity, hold, average, hwmode, evalmode;
extern int32_t trigmode, outmode, anamode, scantime;

// ---- live-value record (answer words 0..15 of order 8) ---------------------
extern int32_t  valNORMA, valNORMB;
extern uint16_t adcCHA, adcCHB, Amax, Bmax, MAXvalA, MAXvalB, MINvalA, MINvalB;
extern uint16_t tolval, btnval, inputs, tempC, triggHI, triggLO;

// ---- scope display values --------------------------------------------------
extern int32_t  valNORM, upTHR, loTHR;
extern uint16_t valREF;

// ---- display and curve state -----------------------------------------------
extern int32_t  type;                  // 0 RAW chart, 1 NORM chart, 2 neither
extern int32_t  graphrefresh;
extern uint16_t ref10Bit, tol10Bit;
extern double   arrayRAW[200];         // 100 points x 2 traces, oldest first
extern double   arrayNORM[600];        // 100 points x 6 traces, oldest first
extern uint16_t xArray[256], yArrayA[256], yArrayB[256];
extern uint16_t upArray[256], loArray[256], refArray[256];

// ---- serial-link state -----------------------------------------------------
extern int32_t  com, order, target;
// POSIX declares a function sync(), and every Qt and GoogleTest header brings
// that declaration along; a translation unit that includes those (the tests)
// defines QVAR_HIDE_SYNC and does without the sync word by name.
#ifndef QVAR_HIDE_SYNC
extern int32_t  sync;
#endif
extern int32_t  rx_flag, stop_flag;
extern int32_t  nBytesW, nBytesR, ret;
extern double   tstart, tdiff;
extern uint16_t pp[16];
extern unsigned char szWriteBuf[BUF_LEN];
extern unsigned char szReadBuf[BUF_LEN];

// ---- text buffers ------------------------------------------------------------
extern char szStatus[TEXT_LEN];
extern char szSoftname[TEXT_LEN];
extern char szSoftversion[TEXT_LEN];
extern char proj_dir[PATH_LEN];
extern char file_name[PATH_LEN];
extern char recfile_name[PATH_LEN];

// ---- panel handles ---------------------------------------------------------
extern int panelHandle, panelPopUp, panelPARA_A, panelPARA_B, panelPARA_C;

// ---- defaults (app/) --------------------------------------------------------
void InitVars(void);

// ---- where outcomes are shown ------------------------------------------------
// The link reports every outcome through ShowStatus and shows freshly read
// parameter sets through ShowParameters. The tool points them at its status
// line and parameter panels; a program without panels (the command-line tool)
// points them elsewhere. Without a sink both do nothing.
typedef void (*StatusSink)(const char *text);
typedef void (*ParameterSink)(void);
void SetStatusSink(StatusSink sink);
void SetParameterSink(ParameterSink sink);
void ShowStatus(const char *text);
void ShowParameters(void);

