// ui.h - the user-interface service: panels from the resource file, controls,
// strip charts and graphs, the event loop and the event pump.
//
// Contract
// - Panels come from "QVARRDX3V20.uir", Qt Designer UI XML that holds every
//   panel as a page with a resource number. Each LoadPanel call makes a new
//   instance and returns its handle (> 0). A bare file name is looked up in the
//   program's resource folders (files.h: FindResourceFile). Control
//   identifiers are the constants of the header generated from the same file
//   (ui_ids.h); they are per panel. Once SetControlNames has the program's
//   list, LoadPanel finds the controls of a listed panel by name, so a file
//   edited since (controls added, moved, restyled) still wires each one right;
//   one that lacks a listed control is refused (UI_ERR_MISSING). Without the
//   list, controls are numbered in document order from 2.
// - Controls name their callback in the resource file; LoadPanel binds names
//   through the table given to SetCallbackTable. A missing, unreadable or
//   malformed file, a missing panel number or an unknown callback name make
//   LoadPanel fail with a negative code; no window is shown by it, and
//   LoadPanelError says what was wrong. The file is read only when it is a
//   regular file of at most a few MiB; so are image files.
// - Events a user raises: mouse press on a control -> EVENT_LEFT_CLICK, then
//   EVENT_COMMIT on release; a value changed by the user -> EVENT_VAL_CHANGED,
//   followed by EVENT_COMMIT; the close box -> EVENT_CLOSE to the panel
//   callback, and the window stays open unless the program hides or discards
//   it. A value set by the program raises no event.
// - Callbacks run only inside RunUserInterface or ProcessSystemEvents.
//   ProcessSystemEvents runs everything pending (GUI and serial receive
//   callbacks) and returns; when nothing is pending it waits for GUI or serial
//   activity, a program timer or a simulated line's next byte, and returns as
//   soon as one arrives, or after about 10 ms at most. A loop that pumps
//   until a time-out says when it falls due (SetWaitDeadline); the pump then
//   sleeps up to that moment instead of returning every 10 ms.
// - Charts show what they are handed; the screen is repainted at the display's
//   rate however often the program plots.
// - Results: 0 or a value on success, a negative UI_ERR_ code on failure.
#pragma once

enum {
    UI_ERR_NOT_STARTED = -1,   // InitUserInterface has not succeeded
    UI_ERR_PANEL       = -4,   // no panel with this handle
    UI_ERR_CONTROL     = -5,   // no control with this id on the panel
    UI_ERR_ATTRIBUTE   = -6,   // attribute does not apply to this control
    UI_ERR_VALUE       = -7,   // value type or range does not fit the control
    UI_ERR_FILE        = -20,  // resource or image file missing or unreadable
    UI_ERR_FORMAT      = -21,  // resource file malformed
    UI_ERR_NO_PANEL    = -22,  // no panel with this resource number
    UI_ERR_CALLBACK    = -23,  // a control names a callback the table lacks
    UI_ERR_TOO_LONG    = -24,  // text does not fit the caller's buffer
    UI_ERR_MISSING     = -25,  // the resource file lacks a control the program knows
};

enum {
    EVENT_NONE        = 0,
    EVENT_COMMIT      = 1,
    EVENT_VAL_CHANGED = 2,
    EVENT_LEFT_CLICK  = 3,
    EVENT_CLOSE       = 12,
};

// Attributes of controls (SetCtrlAttribute) and panels (SetPanelAttribute).
enum {
    ATTR_DIMMED = 1,            // int 0/1
    ATTR_VISIBLE,               // int 0/1 (controls and panels)
    ATTR_LEFT,                  // int pixels (controls and panels)
    ATTR_TOP,                   // int pixels (controls and panels)
    ATTR_WIDTH,                 // int pixels
    ATTR_HEIGHT,                // int pixels
    ATTR_TEXT_COLOR,            // int 0xRRGGBB
    ATTR_TEXT_BGCOLOR,          // int 0xRRGGBB
    ATTR_FRAME_COLOR,           // int 0xRRGGBB: a decoration's fill
    ATTR_TEXT_FONT,             // string, e.g. FONT_APPLICATION
    ATTR_TEXT_POINT_SIZE,       // int: text size in pixels, as every position is
    ATTR_TEXT_BOLD,             // int 0/1
    ATTR_TEXT_ITALIC,           // int 0/1
    ATTR_LABEL_TEXT,            // string; a graph's caption
    ATTR_NUM_TRACES,            // int, strip charts
    ATTR_POINTS_PER_SCREEN,     // int, strip charts: width of the X axis in points
    ATTR_SCROLL_MODE,           // int, strip charts: SCROLL_CONTINUOUS
    ATTR_TRACE_COLOR,           // int 0xRRGGBB, for SetTraceAttribute
    ATTR_SIZABLE,               // int 0/1, top-level panels: the window can be resized and
                                // maximised, never below its design size; its strip charts
                                // and graphs grow with it, what lies below them moves down,
                                // bands above them widen, everything else keeps its place;
                                // on a screen too small for the design it scrolls instead
    ATTR_TITLE,                 // string, top-level panels: the window's title
    ATTR_TRACE_LINE_STYLE,      // int LINE_*, for SetTraceAttribute
};

#define FONT_APPLICATION "application"

enum { SCROLL_CONTINUOUS = 1 };
enum { CTRL_TEXT_MSG = 1 };                     // NewCtrl kinds
enum { AXIS_X = 0, AXIS_Y = 1 };
enum { AXIS_MANUAL = 0, AXIS_AUTO = 1 };
enum { PLOT_THIN_LINE = 0, PLOT_THICK_LINE = 1 };
enum { POINT_NONE = 0, POINT_DOT = 1 };
enum { LINE_SOLID = 0, LINE_DASH = 1, LINE_DOT = 2, LINE_DASH_DOT = 3 };
enum { REFRESH_DELAYED = 0, REFRESH_IMMEDIATE = 1 };

// The colour of each quantity wherever it is drawn: the strip charts, the
// data curve, the recording viewer and the pictures saved from them, so that
// a legend entry means the same on every chart. 0xRRGGBB.
enum {
    COLOR_RAW_A     = 0x0000FF,   // raw converter value of channel A
    COLOR_RAW_B     = 0x00FF00,   // ... of channel B
    COLOR_VALUE_A   = 0xFF0000,   // a channel A source's value (NORM-A, MAX (A), ...)
    COLOR_VALUE_B   = 0x404040,   // a channel B source's value
    COLOR_BAND      = 0x008000,   // upper and lower threshold
    COLOR_REFERENCE = 0x000000,   // the reference the band lies around
    COLOR_EXTREME   = 0xFF0000,   // the controller's maximum and minimum
    COLOR_TRIGGER   = 0x0000FF,   // trigger position and trigger level of a curve
};

typedef int (*CtrlCallbackPtr)(int panel, int control, int event, void *callbackData,
                               int eventData1, int eventData2);
typedef int (*PanelCallbackPtr)(int panel, int event, void *callbackData,
                                int eventData1, int eventData2);

// One entry of the program's callback table; exactly one pointer is set.
struct UiCallback {
    const char      *name;
    CtrlCallbackPtr  control;
    PanelCallbackPtr panel;
};

// One control the program knows by name: the panel's resource number, the
// control's name in the resource file, the id the program uses for it. The
// generated ui_ids.h holds the whole list (qvarControlNames).
struct UiControlName {
    int         panel;
    const char *name;
    int         id;
};

// Start. Returns 1 when the run-time is up; 0 when there is no display to
// show windows on (it has said so on stderr). A second call is harmless.
int  InitUserInterface(int argc, char *argv[]);
// The desktop entry the windows belong to ("org.example.App", without
// ".desktop"); call before InitUserInterface.
void SetDesktopFileName(const char *name);
// From now on SIGTERM, SIGHUP and SIGINT close `panel` as its close box
// does: EVENT_CLOSE through the pump, so the program ends the way a user's
// close ends it (a recording keeps every line). 0, once the program closes,
// stops that but keeps the signals caught, so a repeated one cannot cut the
// orderly end short. Needs the run-time (after InitUserInterface).
// CatchTermination, first thing in main, holds such a signal from the start
// until CloseOnTermination names the panel it closes.
void CatchTermination(void);
void CloseOnTermination(int panel);
// Start for a program without windows: only the event pump (serial receive
// callbacks, ProcessSystemEvents, PostDeferredCall), no display needed; no
// panel can be loaded. Uses the run-time already up if there is one. 1.
int  InitHeadless(int argc, char *argv[]);
// With `on`, Ctrl-C (SIGINT) no longer ends the program but is noted for
// InterruptCaught (which then returns 1); without, the default comes back.
void CatchInterrupt(int on);
int  InterruptCaught(void);
// 1 when standard stream `stream` (0 in, 1 out, 2 error) is a terminal.
int  IsTerminal(int stream);
void SetCallbackTable(const UiCallback *table, int count);
// The controls LoadPanel looks for by name from now on (nullptr: none).
void SetControlNames(const UiControlName *table, int count);

// Panels.
int LoadPanel(int parentPanel, const char *file, int resourceNumber);
// Why the last LoadPanel failed, in words naming the file; "" after a success.
const char *LoadPanelError(void);
int DisplayPanel(int panel);
int HidePanel(int panel);
int DiscardPanel(int panel);
int SetPanelAttribute(int panel, int attribute, int value);
int SetPanelAttribute(int panel, int attribute, const char *text);
int GetPanelAttribute(int panel, int attribute, int *value);
// A text attribute; UI_ERR_TOO_LONG when it does not fit `size` bytes.
int GetPanelAttribute(int panel, int attribute, char *buffer, int size);
int SetPanelPos(int panel, int top, int left);

// Controls.
int SetCtrlVal(int panel, int control, int value);
int SetCtrlVal(int panel, int control, unsigned value);
int SetCtrlVal(int panel, int control, double value);
int SetCtrlVal(int panel, int control, const char *text);
int GetCtrlVal(int panel, int control, int *value);
int GetCtrlVal(int panel, int control, unsigned short *value);
int GetCtrlVal(int panel, int control, double *value);
int GetCtrlString(int panel, int control, char *buffer, int size);
int SetCtrlAttribute(int panel, int control, int attribute, int value);
int SetCtrlAttribute(int panel, int control, int attribute, const char *text);
int GetCtrlAttribute(int panel, int control, int attribute, int *value);
int NewCtrl(int panel, int kind, const char *label, int top, int left);
int ResetTextBox(int panel, int control, const char *text);
int ClearListCtrl(int panel, int control);
// Rings show a long entry shortened in the middle, with the whole entry as
// the ring's tooltip; the opened list is as wide as its longest entry.
int InsertListItem(int panel, int control, int index, const char *label, int value);
int GetNumListItems(int panel, int control, int *count);
// A dimmed list item (index from 0) is listed but cannot be chosen by the
// user; the program may still select it.
int SetListItemDimmed(int panel, int control, int index, int dimmed);

// Strip charts and graphs. PlotStripChart hands the chart its whole history:
// `count` interleaved values of ATTR_NUM_TRACES traces, oldest first.
int PlotStripChart(int panel, int control, const double *values, int count, int start, int skip);
int PlotXY(int panel, int control, const unsigned short *x, const unsigned short *y, int count,
           int plotStyle, int pointStyle, int lineStyle, int color);     // plot handle > 0
int DeleteGraphPlot(int panel, int control, int plot, int refresh);        // plot -1: all
int SetAxisScalingMode(int panel, int control, int axis, int mode, double min, double max);
int SetTraceAttribute(int panel, int control, int trace, int attribute, int value);
int DisplayImageFile(int panel, int control, const char *file);

// Opens a window of its own on a recorder file (its name as bytes, as on
// disk): its four columns as traces over time, each of which can be hidden,
// with the charts' tools. The file is read beside the event loop while the
// window shows the progress and a Cancel button; the traces appear from the
// pump once it has been read. The window opens whatever the file holds and
// says in a message line what was read or where reading stopped (a malformed
// line: the samples before it are shown). 0 once it is reading; UI_ERR_FILE
// when the file cannot be read at all (no regular file, larger than 256 MiB).
int ShowRecording(const char *file);

// What a chart or graph holds now, for tests and tools. Strip chart: the y
// values of one trace (1-based), oldest first. Graph: plots in drawing order.
int GetStripChartTrace(int panel, int control, int trace, double *y, int max);
int GetGraphPlotCount(int panel, int control);
int GetGraphPlot(int panel, int control, int index, double *x, double *y, int max, int *color);
// How often the control's picture has actually been redrawn.
int GetChartRedrawCount(int panel, int control);

// A user's hand on a strip chart or graph, for the program's own pictures and
// tools: CHART_HOVER moves the cursor to (x, y), CHART_LEAVE takes it away,
// CHART_WHEEL turns the wheel `notches` there (positive: zoom in), CHART_PAUSE
// presses the Pause/Resume toggle, CHART_RESET double-clicks (the design's
// axes again). x and y are fractions of the plot area from its left and top.
enum { CHART_HOVER = 1, CHART_LEAVE, CHART_WHEEL, CHART_PAUSE, CHART_RESET };
int ChartUserInput(int panel, int control, int action, double x, double y, int notches);

// Chart tools, reached through a chart's context menu (right button) and
// callable as well. Strip charts keep the last `points` points they were
// handed per trace (100 by default, as the program's history; 1000 or
// 10000), for the run: while paused the user scrolls back through them.
int SetChartHistoryDepth(int panel, int control, int points);
int GetChartHistoryDepth(int panel, int control);
// The kept points of one trace (1-based), oldest first; the count.
int GetChartHistory(int panel, int control, int trace, double *y, int max);
// A graph plot's or a strip chart trace's (1-based) name, for the crosshair
// and the data file's header ("Trace n" without).
int SetGraphPlotName(int panel, int control, int plot, const char *name);
int SetStripChartTraceName(int panel, int control, int trace, const char *name);
// A strip chart or graph as drawn, as PNG at `scale` (1 or 2) times its size;
// as CSV: a header line naming the traces, then one row per point (its x,
// then each trace's value): the kept points or graph points, with
// `visibleOnly` those inside the shown x range. The file is written beside
// its name and renamed into place: a failed write leaves nothing under the
// name, and a name that exists and is no regular file is refused. 0 or
// UI_ERR_FILE.
int SaveChartPicture(int panel, int control, const char *pngFile, int scale);
int SaveChartData(int panel, int control, const char *csvFile, int visibleOnly);
// Where the chart tools report a failure ("Cannot write picture file!",
// "Cannot write data file!"): the program's status line. nullptr: nowhere.
typedef void (*ChartMessagePtr)(const char *text);
void SetChartMessageCallback(ChartMessagePtr fn);

// Event loop.
int RunUserInterface(void);        // returns the code given to QuitUserInterface
int QuitUserInterface(int code);
int ProcessSystemEvents(void);
// The calling loop pumps until Timer() reaches `due` unless a callback ends
// it first: a waiting ProcessSystemEvents may sleep until then (and returns
// once it is due). Forgotten when it falls due or when any callback has run,
// so a loop that ended early leaves nothing behind for the next one.
void SetWaitDeadline(double due);
// Runs `fn(data)` once, from the event pump, `seconds` from now (like a
// callback of any other control). Returns 0.
typedef void (*DeferredCallbackPtr)(void *data);
int PostDeferredCall(DeferredCallbackPtr fn, void *data, double seconds);

// Asks before an action that cannot be taken back: `question` in a window
// titled `title`, a button `confirm` that goes ahead, Cancel (the default
// answer, also for Escape and the close box) and a "Do not ask again" box.
// 1 when the user went ahead, else 0 (also without a display). With a 1,
// *dontAskAgain (may be null) says whether the box was ticked; else it is 0.
// Holds the program's callbacks while it waits, as the file dialog does.
int ConfirmPopup(const char *title, const char *question, const char *confirm, int *dontAskAgain);
// Answers ConfirmPopup in place of the user: gets its title and question,
// returns 1 to go ahead and may tick the box; nullptr restores the dialog.
typedef int (*ConfirmHook)(const char *title, const char *question, int *dontAskAgain);
void SetConfirmHook(ConfirmHook hook);

// Renders a panel as it would appear on screen into a PNG file.
int SavePanelImage(int panel, const char *pngFile);
