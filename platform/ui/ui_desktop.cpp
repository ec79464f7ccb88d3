// ui_desktop.cpp - the program's tie to its desktop entry: windows take the
// entry's icon and name and group with its menu item.
#include "platform/ui/ui.h"

#include <QGuiApplication>
#include <QString>

void SetDesktopFileName(const char *name)
{
    // A static setting: it holds for the application made afterwards.
    QGuiApplication::setDesktopFileName(QString::fromUtf8(name ? name : ""));
}
