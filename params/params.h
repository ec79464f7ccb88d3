// params.h - the parameter set between the panels, the controller and
// parameter files.
//
// The panels and the variables are two copies that meet only when one of
// GetPanelValues / SetPanelValues runs; SetPanelDATA shows the live values.
#pragma once

#include <cstdint>

void GetPanelValues(void);
void SetPanelValues(void);
void SetPanelDATA(void);

// Parameter file: 32 numbers, the channel A block then the channel B block.
void SendParaToFile(void);
// Asks for a file and loads it into the variables; true when it did.
bool ReadParaFromFile(void);
// Dialog for saving (FILE_BUTTON_OK) or loading (FILE_BUTTON_LOAD); its result.
int  ParaFileDialog(int buttonStyle);
// The same file without panels or dialog. WriteParaFile saves both channels
// from the variables, replacing the file only once the new one is whole (0 or
// a FILE_ERR_ code); ParaFileText gives the same file's text (its length, or a
// FILE_ERR_ code). ReadParaFileWords takes the 32 numbers as they stand in the
// file: exactly 32 numbers of 0..65535 and nothing after them; on failure a
// FILE_ERR_ code, `words` untouched, and `why` (when given) says what and
// where ("line 18: number 18 (70000) is above 65535"). ParaWordsToVars puts
// the numbers into the variables as loading does.
int  WriteParaFile(const char *path);
int  ParaFileText(char *text, int size);
int  ReadParaFileWords(const char *path, uint32_t words[32], char *why, int whySize);
void ParaWordsToVars(const uint32_t words[32]);

// Send's transfer: both channels' blocks from the variables to RAM or
// EEPROM (order 1 or 3), channel B 0.1 s after channel A; true when both
// left whole.
bool SendParaBlocks(int32_t destination);
// Shows a parameter set the link read from the controller on the panels,
// which from then on hold no parameter file's set (the tool's parameter sink).
void ShowReadParameters(void);
// The main panel's choices the user keeps between runs (Verify after send).
void ApplyUserChoices(void);

int CC_RBTRam(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int CC_RBTEeprom(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int CC_RBTFile(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int CC_BTNSend(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int CC_BTNGet(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
// The "Verify after send" check box: the choice is kept for the user.
int CC_CHKVerifySend(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);

// Teach, reset and refresh, with the panels' current values.
int CC_ButtonTeach(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int CC_ButtonReset(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int CC_ButtonRefresh(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
