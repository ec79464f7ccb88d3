// app.h - the application shell: start-up and shutdown, the panel
// navigation, and the table that binds the resource file's callback names.
#pragma once

#include "platform/ui/ui.h"

// The whole program: start-up, event loop, shutdown. 0 after a normal
// shutdown, -1 when the run-time or a panel cannot be brought up.
int QvarMain(int argc, char *argv[]);
// Its two halves around the event loop: everything up to the main panel on
// screen (0, or -1 as above), and everything after the loop has returned.
int  StartUp(int argc, char *argv[]);
void ShutDown(void);

// The parameter variables' defaults, which are also the values the parameter
// panels start with; InitVars sets them first. A program without panels (the
// command-line tool) starts from them alone.
void InitParameterDefaults(void);

// Someone who wants to follow the status line (a log, a test) is told every
// text shown there; nullptr stops it.
typedef void (*StatusListener)(const char *text);
void SetStatusListener(StatusListener listener);
// The status sink of the tool: the main panel's status line, then the listener.
void ShowStatusOnPanel(const char *text);

// Fills the serial-port selector with every port number and selects `com`.
void FillPortSelector(void);
// Names the port in use in the main window's title ("Q-VAR-RDX3-Scope - COM7"),
// so the status line can keep the link's own texts.
void ShowPortInTitle(void);

extern const UiCallback qvarCallbacks[];
extern const int qvarCallbackCount;

int CC_PANEL(int panel, int event, void *callbackData, int eventData1, int eventData2);
int CC_POPUP(int panel, int event, void *callbackData, int eventData1, int eventData2);
int CC_Select_CHA(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int CC_Select_CHB(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int CC_Select_COM(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int CC_TOGBTNparaII(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int CC_DropDCom(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
