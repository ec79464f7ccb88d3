// state.cpp - the program-wide variables and constants, and where status
// texts go.
//
// Every variable of qvar.h is defined here and nowhere else; InitVars (app/)
// gives them their defaults once the panels are loaded.
#include "state/qvar.h"

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

namespace {
StatusSink statusSink;
ParameterSink parameterSink;
} // namespace

void SetStatusSink(StatusSink sink)
{
    statusSink = sink;
}

void SetParameterSink(ParameterSink sink)
{
    parameterSink = sink;
}

// Without a sink (a test of the link alone) a text simply goes nowhere; the
// caller's szStatus still holds it.
void ShowStatus(const char *text)
{
    if (statusSink)
        statusSink(text);
}

void ShowParameters(void)
{
    if (parameterSink)
        parameterSink();
}
