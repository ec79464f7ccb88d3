// files_dialog.cpp - the modal file-selection dialog on QFileDialog.
//
// Qt's own (non-native) dialog is used on purpose: a desktop portal dialog
// lives in another process, so neither a test nor the restrictions below could
// reach it. Paths go back to the program as the bytes of the names on disk,
// which for a name that is not UTF-8 is not what Qt would make of it.
#include "platform/files/files.h"
#include "platform/ui/pump.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

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

bool onDisk(const QByteArray &path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0;
}

// Qt 6 leaves a name that is not UTF-8 out of every folder listing, and
// spells it with U+FFFD for its stray bytes, a spelling that names no file.
// The regular files of `folder` so named, by their bytes.
std::vector<QByteArray> undecodableFiles(const QByteArray &folder)
{
    std::vector<QByteArray> out;
    DIR *d = ::opendir(folder.isEmpty() ? "." : folder.constData());
    if (!d)
        return out;
    while (const dirent *e = ::readdir(d)) {
        const QByteArray name(e->d_name);
        struct stat st;
        if (QFile::encodeName(QFile::decodeName(name)) != name &&
            ::stat((folder.isEmpty() ? name : folder + '/' + name).constData(), &st) == 0 && S_ISREG(st.st_mode))
            out.push_back(name);
    }
    ::closedir(d);
    std::sort(out.begin(), out.end());
    return out;
}

// The chosen path as it is on disk: as Qt spells it, or for a name with
// U+FFFD in it that names nothing, the one file of its folder that Qt spells
// so (when two would be, there is no telling which was meant).
QByteArray onDiskName(const QString &path)
{
    const QByteArray spelled = QFile::encodeName(path);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString name = path.mid(slash + 1);
    if (!name.contains(QChar::ReplacementCharacter) || onDisk(spelled))
        return spelled;
    const QByteArray folder = QFile::encodeName(path.left(slash + 1));
    QByteArray found;
    int matches = 0;
    for (const QByteArray &raw : undecodableFiles(folder))
        if (QFile::decodeName(raw) == name)
            found = raw, ++matches;
    return matches == 1 ? folder + found : spelled;
}

// "Recordings (*.dat *.txt)" or "*.dat": does `name` match one of its patterns?
bool matchesFilter(const QString &name, const QString &filter)
{
    QString patterns = filter;
    if (const qsizetype open = filter.lastIndexOf(QLatin1Char('(')); open >= 0 && filter.endsWith(QLatin1Char(')')))
        patterns = filter.mid(open + 1, filter.size() - open - 2);
    const QStringList list = patterns.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return list.isEmpty() || std::any_of(list.begin(), list.end(), [&](const QString &p) {
        return QRegularExpression::fromWildcard(p, Qt::CaseSensitive).match(name).hasMatch();
    });
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
        addUndecodableList();
    }

    void accept() override
    {
        const QStringList files = selectedFiles();
        if (restrictDir_) {
            if (!files.isEmpty() && folderKey(QFileInfo(files.first()).absolutePath()) != start_) {
                setDirectory(start_);
                return;
            }
        }
        // QFileDialog looks for the file under Qt's spelling of its name: for
        // one that is not UTF-8 it would say "File not found" when opening,
        // and not ask before replacing it when saving.
        if (!files.isEmpty() && !QFileInfo::exists(files.first()) && onDisk(onDiskName(files.first()))) {
            if (fileMode() == ExistingFile) {
                QDialog::accept();
                return;
            }
            if (acceptMode() == AcceptSave && !testOption(DontConfirmOverwrite) &&
                QMessageBox::warning(this, windowTitle(),
                                     QStringLiteral("%1 already exists.\nDo you want to replace it?")
                                         .arg(QFileInfo(files.first()).fileName()),
                                     QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
                return;
        }
        QFileDialog::accept();
    }

    void reject() override
    {
        if (allowCancel_)
            QFileDialog::reject();
    }

protected:
    void showEvent(QShowEvent *e) override
    {
        listUndecodable();
        QFileDialog::showEvent(e);
    }

private:
    // What Qt leaves out of the folder's listing is listed below it, so a
    // file whose name is not UTF-8 can still be chosen; choosing one puts
    // its name, as Qt spells it, into the name field.
    void addUndecodableList()
    {
        auto *grid = qobject_cast<QGridLayout *>(layout());
        if (!grid)
            return;
        undecodableCaption_ = new QLabel(QStringLiteral("Names that are not UTF-8 (\uFFFD marks their odd bytes):"), this);
        undecodable_ = new QListWidget(this);
        undecodable_->setObjectName(QStringLiteral("undecodableFiles"));
        undecodable_->setMaximumHeight(undecodable_->fontMetrics().height() * 5);
        const int row = grid->rowCount();
        grid->addWidget(undecodableCaption_, row, 0, 1, -1);
        grid->addWidget(undecodable_, row + 1, 0, 1, -1);
        connect(undecodable_, &QListWidget::currentTextChanged, this, [this](const QString &name) {
            if (name.isEmpty())
                return;
            selectFile(name);
            // The dialog has just found no file by that spelling and
            // disabled its button; this one is there.
            for (auto *box : findChildren<QDialogButtonBox *>())
                if (QPushButton *ok = box->button(QDialogButtonBox::Open) ? box->button(QDialogButtonBox::Open)
                                                                         : box->button(QDialogButtonBox::Save))
                    ok->setEnabled(true);
        });
        connect(undecodable_, &QListWidget::itemActivated, this, [this](QListWidgetItem *item) {
            selectFile(item->text());
            accept();
        });
        connect(this, &QFileDialog::directoryEntered, this, [this] { listUndecodable(); });
        connect(this, &QFileDialog::filterSelected, this, [this] { listUndecodable(); });
    }

    void listUndecodable()
    {
        if (!undecodable_)
            return;
        undecodable_->clear();
        for (const QByteArray &raw : undecodableFiles(QFile::encodeName(directory().absolutePath())))
            if (const QString name = QFile::decodeName(raw); matchesFilter(name, selectedNameFilter()))
                undecodable_->addItem(name);
        undecodable_->setVisible(undecodable_->count() > 0);
        undecodableCaption_->setVisible(undecodable_->count() > 0);
    }

    QString start_;
    bool restrictDir_;
    bool allowCancel_;
    QLabel *undecodableCaption_ = nullptr;
    QListWidget *undecodable_ = nullptr;
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

    const QByteArray path = onDiskName(files.first());
    if (path.size() + 1 > FILE_PATH_MAX)
        return FILE_ERR_TOO_LONG;
    std::memcpy(pathOut, path.constData(), size_t(path.size()) + 1);
    struct stat st;
    return ::stat(path.constData(), &st) == 0 && !S_ISDIR(st.st_mode) ? 1 : 2;
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
        const QByteArray chosen = files.isEmpty() ? QByteArray() : onDiskName(files.first());
        const bool ok = result == QDialog::Accepted && !chosen.isEmpty() && chosen.size() < FILE_PATH_MAX;
        done(ok ? chosen.constData() : nullptr, data);
    });
    dlg->show();
}
