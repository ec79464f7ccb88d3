// ui_internal.h - the object model behind the integer handles of ui.h
// (platform-internal, shared by the ui_*.cpp files).
#pragma once

#include "platform/ui/ui.h"
#include "platform/ui/uir_model.h"

#include <QByteArray>
#include <QColor>
#include <QList>
#include <QPointF>
#include <QPointer>
#include <QString>
#include <QVector>
#include <QWidget>

#include <map>
#include <memory>
#include <vector>

class QComboBox;

namespace qvar::ui {

// Colours cross the interface as 0xRRGGBB.
inline QColor rgbColor(int v) { return QColor((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF); }
inline int rgbValue(const QColor &c) { return (c.red() << 16) | (c.green() << 8) | c.blue(); }

enum class Kind {
    TextMsg, Ring, Command, Toggle, Radio, Numeric, Display, String, TextBox,
    StripChart, Graph, Led, Decoration, Picture, Other,
};

struct Axis {
    int mode = AXIS_MANUAL;
    double min = 0, max = 1;
};

class ChartView;

struct StripChart {
    ChartView *view = nullptr;
    int traces = 1;
    int pointsPerScreen = 100;
    int scrollMode = SCROLL_CONTINUOUS;
    std::vector<double> data;          // interleaved, oldest first, as handed over
    Axis yAxis;
    // The chart's own history: the newest point of every plot, `depth`
    // points at most, circular by point (`keptFirst` is the oldest slot).
    int depth = 100;
    std::vector<double> kept;
    size_t keptFirst = 0, keptCount = 0;
};

struct GraphPlot {
    int handle = 0;
    QString name;
    std::vector<double> x, y;          // as handed over; the view holds what is drawn
    int color = 0;
};

struct Graph {
    ChartView *view = nullptr;
    std::vector<GraphPlot> plots;      // in drawing order, one view trace each
    int nextPlot = 1;
    Axis xAxis, yAxis;
};

struct Ctrl {
    int id = 0;
    Kind kind = Kind::Other;
    QString name;
    QPointer<QWidget> w;               // placed, shown, dimmed
    QWidget *inner = nullptr;          // the working widget inside a placeholder
    CtrlCallbackPtr cb = nullptr;
    void *cbData = nullptr;
    QVector<int> ringValues;           // per item
    int ringIndex = -1;                // last index the program or user chose
    bool autoSize = false;             // NewCtrl labels grow with their text
    // Display coalescing: `value` is what the program set, `shown` what the
    // widget shows; they differ only while a push is pending.
    double value = 0, shown = 0;
    bool ledOn = false;
    int redraws = 0;
    bool dirty = false;
    std::unique_ptr<StripChart> strip;
    std::unique_ptr<Graph> graph;
};

struct Panel {
    int handle = 0;
    int parent = 0;
    int number = 0;
    QString name;
    QPointer<QWidget> w;
    PanelCallbackPtr cb = nullptr;
    void *cbData = nullptr;
    std::map<int, std::unique_ptr<Ctrl>> ctrls;
    int nextId = 2;
};

// Registry (ui_panels.cpp).
bool started();
Panel *findPanel(int handle);
// Looks up a control; on failure stores the UI_ERR_ code in *err.
Ctrl *findCtrl(int panel, int control, int *err);
std::map<int, std::unique_ptr<Panel>> &panels();
// Resolves a bare file name against the program's resource folders.
QString programFile(const QString &name);
// Reads a regular file of at most `max` bytes: 0, or UI_ERR_FILE with `why`.
int readBounded(const QString &path, size_t max, QByteArray &data, QString *why);
// Moves the Tab stops among `stops`, in their order, to just before `before`
// (which need not take the focus itself).
void placeTabStops(const std::vector<QWidget *> &stops, QWidget *before);

// Controls (ui_controls.cpp).
Kind kindOf(const uir::Control &c);
void setupControl(Panel &p, Ctrl &c, const uir::Control &desc);
void pushDisplay(Ctrl &c);
// A lamp's face: whether it is lit and its colour when lit; false if `face`
// is no lamp.
bool lampState(const QWidget *face, bool *lit, QColor *colour);

// A control's presses (ui_presses.cpp): mouse presses on the control and its
// children, and Space on a focused button, raise its EVENT_LEFT_CLICK; Return
// and Enter press a focused button or open a ring's list.
void hookPresses(QWidget *w, int panel, int control);
void pressOnReturn(QWidget *w);

// What assistive technology reads of the faces drawn here (ui_access.cpp).
void installAccess();
// After setup: the control's face answers for its widget from now on.
void adoptAccess(QWidget *w);
// What a control shows changed; told to a listener at most ten times a
// second, and nothing at all is done while nobody listens.
void noteShownChange(QWidget *w);
// A control's accessible name changed (a chart's title).
void noteRenamed(QWidget *w);

// Rings: long entries elided in the middle with the whole text as tooltip,
// the list as wide as its longest entry; items the user cannot choose
// (ui_ring.cpp).
void setupRing(QComboBox *cb);
void fitRingList(QComboBox *cb);
int ringItemDimmed(QComboBox *cb, int index, bool dimmed);

// Panels whose window grows (ui_resize.cpp).
void setSizable(Panel &p, bool on);
bool sizable(const Panel &p);
// Where the panel's controls and child panels live: the page itself, or the
// canvas a sizable page scrolls.
QWidget *canvasOf(Panel &p);

// Charts (ui_charts.cpp).
void setupStripChart(Ctrl &c, const uir::Control &desc);
void setupGraph(Ctrl &c, const uir::Control &desc);
void pushStripChart(Ctrl &c);
void resizeChart(Ctrl &c);
int chartAttribute(Ctrl &c, int attribute, int value, bool set, int *out);
int chartLabel(Ctrl &c, const QString &text);

// The chart's own history and export (chart_history.cpp, chart_export.cpp).
void keepNewest(StripChart &s);
void clearKept(StripChart &s);
const double *keptPoint(const StripChart &s, size_t i);   // i from the oldest
void showKept(StripChart &s);
int setDepth(StripChart &s, int depth);
void installChartTools(Ctrl &c);

// Event pump and repaint coalescing (ui_loop.cpp).
void postEvent(int panel, int control, int event, int data1 = 0, int data2 = 0);
void markDirty(int panel, Ctrl &c);
void flushDirty();
void noteActivity();
void initLoop();

} // namespace qvar::ui
