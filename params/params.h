// params.h - the parameter set between the panels, the controller and
// parameter files.
//
// The panels and the variables are two copies that meet only when one of
// GetPanelValues / SetPanelValues runs; SetPanelDATA shows the live values.
#pragma once

void GetPanelValues(void);
void SetPanelValues(void);
void SetPanelDATA(void);

// Parameter file: 32 numbers, the channel A block then the channel B block.
void SendParaToFile(void);
void ReadParaFromFile(void);
// Dialog for saving (FILE_BUTTON_OK) or loading (FILE_BUTTON_LOAD); its result.
int  ParaFileDialog(int buttonStyle);

int CC_RBTRam(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int CC_RBTEeprom(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int CC_RBTFile(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int CC_BTNSend(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int CC_BTNGet(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);

// Teach, reset and refresh, with the panels' current values.
int CC_ButtonTeach(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int CC_ButtonReset(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int CC_ButtonRefresh(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
