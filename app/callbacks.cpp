// callbacks.cpp - the one table through which the resource file's callback
// names are bound to the program's functions.
#include "app/app.h"
#include "link/com232.h"
#include "params/params.h"
#include "recorder/recorder.h"
#include "scope/scope.h"

#define CONTROL(fn) {#fn, fn, nullptr}
#define PANEL(fn) {#fn, nullptr, fn}

const UiCallback qvarCallbacks[] = {
    PANEL(CC_PANEL),
    PANEL(CC_POPUP),
    CONTROL(CC_Select_CHA),
    CONTROL(CC_Select_CHB),
    CONTROL(CC_Select_COM),
    CONTROL(CC_TOGBTNparaII),
    CONTROL(CC_DropDCom),
    CONTROL(CC_RBTRam),
    CONTROL(CC_RBTEeprom),
    CONTROL(CC_RBTFile),
    CONTROL(CC_BTNSend),
    CONTROL(CC_BTNGet),
    CONTROL(CC_CHKVerifySend),
    CONTROL(CC_ButtonTeach),
    CONTROL(CC_ButtonReset),
    CONTROL(CC_ButtonRefresh),
    CONTROL(CC_RNGGraphSource),
    CONTROL(CC_BTNRun),
    CONTROL(CC_BTNStop),
    CONTROL(CC_BTNData),
    CONTROL(CC_NEDITRecTime),
    CONTROL(CC_NEDITRecSamples),
    CONTROL(CC_RecordFileNameBtn),
    CONTROL(CC_BTNStartRecord),
    CONTROL(CC_BTNStopRecord),
    CONTROL(CC_BTNOpenRecording),
};

const int qvarCallbackCount = sizeof qvarCallbacks / sizeof qvarCallbacks[0];
