// figures.h - what a measuring program reports: named figures against their
// bounds, process CPU time, windows shown before they are measured, and the
// program brought up on the simulated controller.
//
// Each figure is printed on its own line as it is measured, with its bound and
// "ok" or "MISSED"; Verdict() is the program's exit code (1 if any bound was
// missed or a measurement could not be made).
#pragma once

#include <functional>
#include <string>

class QWidget;

namespace qvar_bench {

enum class Bound { AtMost, AtLeast, Equal };

// A measured figure and its bound; returns whether the bound held.
bool Figure(const std::string &name, double value, const std::string &unit, Bound bound, double limit);
// A figure shown for information only (no bound).
void Info(const std::string &name, double value, const std::string &unit);
// A measurement that could not be made counts as a missed bound.
void Fail(const std::string &why);
int  Verdict(const char *program);

// CPU seconds used by this process so far (all threads).
double ProcessCpuSeconds();

// Runs `fn` once, from the event pump, `seconds` from now to the millisecond
// (a stop pressed inside a loop under measurement), unless cancelled first.
int  StopAfter(double seconds, std::function<void()> fn);
void CancelStop(int id);

// Shows `w` and runs the event loop until the window system has exposed it,
// for at most 2 s; before that a repaint() paints nothing. False if it never
// was.
bool ShowExposed(QWidget *w);

// Brings the program up on the built-in simulated controller with the
// machine's ports kept out of sight, QT_QPA_PLATFORM=offscreen (with a
// desktop-sized screen) unless another platform is set.
// `paced` puts the controller on line timing after start-up.
bool StartOnSimulator(bool paced);

} // namespace qvar_bench
