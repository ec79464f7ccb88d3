// files_dialog.cpp - the modal file-selection dialog on QFileDialog.
//
// Qt's own (non-native) dialog is used on purpose: a desktop portal dialog
// lives in another process, so neither a test nor the restrictions below could
// reach it.
#include "platform/files/files.h"
#include "platform/ui/pump.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>
#include <QRegularExpression>
#include <QStringList>

#include <cstring>

namespace {

FileSelectHook g_hook = nullptr;

// Canonical where possible, so "/tmp/x/" and "/tmp/./x" count as one folder.
QString folderKey(const QString &path)
{
    QFileInfo fi(path);
    QString canon = fi.canonicalFilePath();
    return canon.isEmpty() ? QDir::cleanPath(fi.absoluteFilePath()) : canon;
}

// "*.cfg" -> "cfg": the one extension a typed name gets when it has none. Only
// for a single plain pattern; with several there is no right one to pick.
QString singleSuffix(const QString &filter)
{
    static const QRegularExpression plain(QStringLiteral("^\\*\\.([A-Za-z0-9_]+)$"));
    auto m = plain.match(filter.trimmed());
    return m.hasMatch() ? m.captured(1) : QString();
}

class SelectDialog : public QFileDialog {
public:
    SelectDialog(const QString &title, const QString &startDir, bool restrictDir, bool allowCancel)
        : QFileDialog(nullptr, title), start_(folderKey(startDir)), restrictDir_(restrictDir),
          allowCancel_(allowCancel)
    {
        if (restrictDir_) {
            // Navigation happens inside QFileDialog without a hook of its
            // own; stepping back at once is the least surprising refusal.
            connect(this, &QFileDialog::directoryEntered, this, [this](const QString &dir) {
                if (folderKey(dir) != start_)
                    setDirectory(start_);
            });
        }
    }

    void accept() override
    {
        if (restrictDir_) {
            const QStringList files = selectedFiles();
            if (!files.isEmpty() && folderKey(QFileInfo(files.first()).absolutePath()) != start_) {
                setDirectory(start_);
                return;
            }
        }
        QFileDialog::accept();
    }

    void reject() override
    {
        if (allowCancel_)
            QFileDialog::reject();
    }

private:
    QString start_;
    bool restrictDir_;
    bool allowCancel_;
};

QString fromLocal(const char *s) { return s ? QFile::decodeName(QByteArray(s)) : QString(); }


// The hook's answer, checked as the dialog's would be.
int answerByHook(const char *startDir, const char *defaultName, const char *filter,
                 const char *title, int buttonStyle, char pathOut[FILE_PATH_MAX])
{
    char chosen[FILE_PATH_MAX] = {};
    int rc = g_hook(startDir, defaultName, filter, title, buttonStyle, chosen);
    if (rc <= 0)
        return rc;
    if (!std::memchr(chosen, '\0', sizeof chosen))
        return FILE_ERR_TOO_LONG;
    std::memcpy(pathOut, chosen, std::strlen(chosen) + 1);
    return rc;
}

void setButtons(SelectDialog &dlg, int buttonStyle, bool allowCancel, bool allowMakeDir, bool confirmOverwrite)
{
    dlg.setOption(QFileDialog::DontUseNativeDialog, true);
    // Choosing an existing file to save to means it will be replaced, so the
    // modal dialog asks first. The one that does not wait must not: the
    // question box would run a loop of its own inside the program's.
    dlg.setOption(QFileDialog::DontConfirmOverwrite, !confirmOverwrite);
    if (!allowMakeDir)
        dlg.setOption(QFileDialog::ReadOnly, true);
    if (buttonStyle == FILE_BUTTON_LOAD) {
        dlg.setAcceptMode(QFileDialog::AcceptOpen);
        dlg.setFileMode(QFileDialog::ExistingFile);
    } else {
        dlg.setAcceptMode(QFileDialog::AcceptSave);
        dlg.setFileMode(QFileDialog::AnyFile);
    }
    static const char *const labels[] = {"OK", "Save", "Load"};
    dlg.setLabelText(QFileDialog::Accept, QString::fromLatin1(labels[buttonStyle]));
    if (!allowCancel) {
        for (auto *box : dlg.findChildren<QDialogButtonBox *>())
            if (QPushButton *cancel = box->button(QDialogButtonBox::Cancel))
                cancel->hide();
    }
}

void setFilter(SelectDialog &dlg, const char *filter, bool restrictExt)
{
    QString pattern = fromLocal(filter).replace(QLatin1Char(';'), QLatin1Char(' ')).trimmed();
    if (pattern.isEmpty())
        return;
    QStringList filters{pattern};
    if (restrictExt) {
        QString suffix = singleSuffix(pattern);
        if (!suffix.isEmpty())
            dlg.setDefaultSuffix(suffix);
    } else {
        filters << QStringLiteral("All files (*)");
    }
    dlg.setNameFilters(filters);
}

} // namespace

void SetFileSelectHook(FileSelectHook hook) { g_hook = hook; }

int FileSelectPopup(const char *startDir, const char *defaultName, const char *filter,
                    const char *title, int buttonStyle, int restrictDir, int restrictExt,
                    int allowCancel, int allowMakeDir, char pathOut[FILE_PATH_MAX])
{
    if (!pathOut)
        return FILE_ERR_PARAM;
    if (buttonStyle != FILE_BUTTON_OK && buttonStyle != FILE_BUTTON_SAVE &&
        buttonStyle != FILE_BUTTON_LOAD)
        return FILE_ERR_PARAM;
    if (g_hook)
        return answerByHook(startDir, defaultName, filter, title, buttonStyle, pathOut);
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return FILE_ERR_PARAM;

    QString dir = fromLocal(startDir);
    if (dir.isEmpty())
        dir = QDir::currentPath();
    SelectDialog dlg(fromLocal(title), dir, restrictDir != 0, allowCancel != 0);
    setButtons(dlg, buttonStyle, allowCancel != 0, allowMakeDir != 0, true);
    dlg.setDirectory(dir);
    setFilter(dlg, filter, restrictExt != 0);
    if (defaultName && *defaultName)
        dlg.selectFile(fromLocal(defaultName));

    int accepted;
    {
        qvar::pump::Blocked noCallbacks;
        accepted = dlg.exec();
    }
    if (accepted != QDialog::Accepted)
        return 0;
    const QStringList files = dlg.selectedFiles();
    if (files.isEmpty())
        return 0;

    const QByteArray path = QFile::encodeName(files.first());
    if (path.size() + 1 > FILE_PATH_MAX)
        return FILE_ERR_TOO_LONG;
    std::memcpy(pathOut, path.constData(), size_t(path.size()) + 1);
    QFileInfo fi(files.first());
    return fi.exists() && !fi.isDir() ? 1 : 2;
}

void FileSavePopupThen(const char *startDir, const char *defaultName, const char *filter,
                       const char *title, FileChosenPtr done, void *data)
{
    if (!done)
        return;
    char path[FILE_PATH_MAX] = {};
    if (g_hook) {
        const bool chosen = answerByHook(startDir, defaultName, filter, title, FILE_BUTTON_SAVE, path) > 0;
        done(chosen ? path : nullptr, data);
        return;
    }
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return done(nullptr, data);
    QString dir = fromLocal(startDir);
    if (dir.isEmpty())
        dir = QDir::currentPath();
    // Not exec(): a modal loop here would hold up whatever loop of the
    // program (a running scope) delivered the request.
    auto *dlg = new SelectDialog(fromLocal(title), dir, false, true);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    setButtons(*dlg, FILE_BUTTON_SAVE, true, true, false);
    dlg->setDirectory(dir);
    setFilter(*dlg, filter, true);
    if (defaultName && *defaultName)
        dlg->selectFile(fromLocal(defaultName));
    QObject::connect(dlg, &QDialog::finished, dlg, [dlg, done, data](int result) {
        const QStringList files = dlg->selectedFiles();
        const QByteArray chosen = files.isEmpty() ? QByteArray() : QFile::encodeName(files.first());
        const bool ok = result == QDialog::Accepted && !chosen.isEmpty() && chosen.size() < FILE_PATH_MAX;
        done(ok ? chosen.constData() : nullptr, data);
    });
    dlg->show();
}
