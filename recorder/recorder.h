// recorder.h - the data recorder: its settings panel and the recording loop
// that writes one line of four live values per interval to the recorder file.
//
// Recorder file: the 44-character header "Q-VAR-RDX3-RECORDER-FILE:
// Time-Interval[s]: " directly followed by the interval and a line end, then
// one line per sample: valNORMA, valNORMB, adcCHA, adcCHB, tab-separated.
#pragma once

#include <cstdint>

// WriteRecorderHeader starts a recording: `file` is replaced by the header
// line, or left as it was when that cannot be written. WriteRecorderLine
// appends one sample line of the live-value variables. 0 or a FILE_ERR_ code.
int WriteRecorderHeader(const char *file, uint16_t interval);
int WriteRecorderLine(const char *file);

void CalcRecTime(void);

int CC_NEDITRecTime(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int CC_NEDITRecSamples(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int CC_RecordFileNameBtn(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int CC_BTNStopRecord(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int CC_BTNStartRecord(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
// Asks for a recorder file and shows it in a viewer window; the recorder's
// own file and settings are left alone. Does nothing while a loop polls.
int CC_BTNOpenRecording(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);

// What the recorder's stop button does, also used when the file fails.
void StopRecording(void);
// 1 while a recording's loop polls the controller.
int RecordingRunning(void);
