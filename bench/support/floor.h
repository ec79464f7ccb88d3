// floor.h - the floor a scope can reach on this machine: a plain program that
// waits in poll() on a pseudo-terminal fed at line timing and repaints a bare
// QPainter strip chart once per frame. The measuring programs run it beside
// the tool, in the same run, and report the tool's cost as a ratio of it.
#pragma once

class QWidget;

namespace qvar_bench {

// A top-level widget of the given size drawing `traces` polylines of
// `points` points each with QPainter, nothing else; AdvanceFloorChart() scrolls the
// traces by one point.
QWidget *NewFloorChart(int width, int height, int traces, int points);
void AdvanceFloorChart(QWidget *chart);

// The floor program for `seconds`: frames of 36 bytes at the line's byte rate
// (1920 bytes/s) and exchange rate (26.67/s) into a pseudo-terminal, a poll()
// loop taking them, one repaint of `chart` per complete frame. Returns the
// process's CPU share of one core in percent, all its threads but the
// feeding one, which plays the line; a negative value if it could not run
// or did not paint every frame it took.
// The frames taken per second go to *frameRate.
double RunFloor(QWidget *chart, double seconds, double *frameRate);

} // namespace qvar_bench
