// ui_qt.h - Qt-typed access to panels and controls, for widget-driving tests
// only; the program itself goes through ui.h.
#pragma once

class QWidget;

// The panel's widget, or nullptr for an unknown handle.
QWidget *UiPanelWidget(int panel);
// The control's widget (for charts, LEDs and pictures the one that is placed
// and shown), or nullptr. Pending display updates are pushed first.
QWidget *UiCtrlWidget(int panel, int control);

class QAccessibleEvent;
// Assistive technology as a test sees it: whether one counts as listening,
// and where change notices go instead of to Qt. nullptr restores Qt's own.
void UiAccessHooks(bool (*listening)(), void (*tell)(QAccessibleEvent *));
