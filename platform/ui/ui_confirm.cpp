// ui_confirm.cpp - the question asked before an action that cannot be taken
// back, with a "Do not ask again" box the caller may remember.
//
// Modal like the file dialog, and for the same reason with the program's
// callbacks held: the caller waits for the answer before it touches the line,
// so nothing of the program may run nested in the dialog's loop.
#include "platform/ui/ui.h"
#include "platform/ui/pump.h"

#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>

namespace {
ConfirmHook g_hook = nullptr;
}

void SetConfirmHook(ConfirmHook hook) { g_hook = hook; }

int ConfirmPopup(const char *title, const char *question, const char *confirm, int *dontAskAgain)
{
    int dont = 0;
    int confirmed = 0;
    if (g_hook) {
        confirmed = g_hook(title, question, &dont) == 1;
    } else if (qobject_cast<QApplication *>(QCoreApplication::instance())) {
        QMessageBox box(QMessageBox::Question, QString::fromUtf8(title ? title : ""),
                        QString::fromUtf8(question ? question : ""));
        QPushButton *yes = box.addButton(QString::fromUtf8(confirm ? confirm : "OK"), QMessageBox::AcceptRole);
        QPushButton *no = box.addButton(QMessageBox::Cancel);
        // The safe answer is the one a stray Return gives.
        box.setDefaultButton(no);
        box.setEscapeButton(no);
        auto *again = new QCheckBox(QStringLiteral("Do not ask again"));
        box.setCheckBox(again);
        {
            qvar::pump::Blocked noCallbacks;
            box.exec();
        }
        confirmed = box.clickedButton() == yes;
        dont = again->isChecked();
    }
    if (dontAskAgain)
        *dontAskAgain = confirmed && dont;
    return confirmed;
}
