// state.cpp - the program-wide variables, their defaults, and InitVars.
//
// Every variable of qvar.h is defined here and nowhere else. InitVars runs
// once, after the five panels are loaded and proj_dir is known, and before the
// port is opened: it must not send anything.
#include "state/qvar.h"

#include "app/app.h"

#include "brand/logo.h"
#include "params/params.h"
#include "platform/files/files.h"
#include "platform/ui/ui.h"
#include "recorder/recorder.h"
#include "scope/scope.h"
#include "ui_ids.h"

const double  TIMEOUT   = 1.5;
const int32_t PNUM      = 16;
const int32_t RAM       = 1;
const int32_t EEPROM    = 2;
const int32_t DATFILE   = 3;
const int32_t eventMask = 0x8006;

int32_t powerA, powerB, refA, refB, tolA, tolB;
int32_t triglvlA, triglvlB, pretriggerA, pretriggerB;
int32_t hysteresis, polarity, hold, average, hwmode, evalmode;
int32_t trigmode, outmode, anamode, scantime;

int32_t  valNORMA, valNORMB;
uint16_t adcCHA, adcCHB, Amax, Bmax, MAXvalA, MAXvalB, MINvalA, MINvalB;
uint16_t tolval, btnval, inputs, tempC, triggHI, triggLO;

int32_t  valNORM, upTHR, loTHR;
uint16_t valREF;

int32_t  type = 1;
int32_t  graphrefresh;
uint16_t ref10Bit = 2048, tol10Bit = 512;
double   arrayRAW[200];
double   arrayNORM[600];
uint16_t xArray[256], yArrayA[256], yArrayB[256];
uint16_t upArray[256], loArray[256], refArray[256];

int32_t  com = 1, order = 1, target = 1, sync = 0x55;
int32_t  rx_flag = 1, stop_flag = 1;
int32_t  nBytesW, nBytesR, ret;
double   tstart, tdiff;
uint16_t pp[16];
unsigned char szWriteBuf[BUF_LEN];
unsigned char szReadBuf[BUF_LEN];

char szStatus[TEXT_LEN];
char szSoftname[TEXT_LEN];
char szSoftversion[TEXT_LEN];
char proj_dir[PATH_LEN];
char file_name[PATH_LEN];
char recfile_name[PATH_LEN];

int panelHandle, panelPopUp, panelPARA_A, panelPARA_B, panelPARA_C;

static StatusListener statusListener;

void SetStatusListener(StatusListener listener)
{
    statusListener = listener;
}

void ShowStatus(const char *text)
{
    SetCtrlVal(panelHandle, PANEL_STATUS, text);
    if (statusListener)
        statusListener(text);
}

void InitVars(void)
{
    powerA = powerB = 500;
    refA = refB = 2048;
    tolA = tolB = 512;
    hysteresis = 20;
    polarity = 1;
    hold = 100;
    hwmode = 1;
    average = 8;
    evalmode = 0;
    triglvlA = triglvlB = 0xC000;
    trigmode = 0;
    outmode = 0;
    anamode = 0;

    ref10Bit = 2048;
    tol10Bit = 512;

    com = 1;
    sync = 0x55;
    order = 1;
    target = RAM;

    type = 1;
    rx_flag = 1;
    stop_flag = 1;

    CopyText(szStatus, sizeof szStatus, "InitVars");
    CopyText(file_name, sizeof file_name, "RDX3para.cfg");
    // A program directory too deep for the record file's name leaves the bare
    // name, which then lands in the working directory, rather than a cut path.
    if (MakePathname(proj_dir, "QVarRecord.dat", recfile_name) < 0)
        CopyText(recfile_name, sizeof recfile_name, "QVarRecord.dat");

    SetCtrlVal(panelPopUp, POPUP_FILENAME, recfile_name);
    CalcRecTime();

    CopyText(szSoftname, sizeof szSoftname, "Q-VAR-RDX3-Scope");
    CopyText(szSoftversion, sizeof szSoftversion, "V2.2x");
    ShowLogo(2);
    ShowStatus(szStatus);

    GetPanelValues();

    FillarrayRAW(0, 0);
    FillarrayNORM(tol10Bit, ref10Bit, 0);
    for (int i = 0; i < 256; i++) {
        xArray[i] = (uint16_t)i;
        yArrayA[i] = 0;
        yArrayB[i] = 0;
    }
}
