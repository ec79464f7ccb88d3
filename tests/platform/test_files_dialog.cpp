// Tests of the file-selection dialog: answered through the hook, and the real
// Qt dialog driven from a timer the way a user would answer it.
#include "platform/files/files.h"
#include "platform/ui/pump.h"
#include "platform/ui/recording_viewer.h"
#include "platform/ui/ui.h"
#include "tests/support/process.h"
#include "tests/support/pump_until.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct TempDir : qvar_test::ScratchDir {
    void touch(const std::string &name) const { std::ofstream(file(name)) << "1\n"; }
};

QPushButton *acceptButton(QFileDialog *d)
{
    for (auto *box : d->findChildren<QDialogButtonBox *>())
        for (auto *b : box->buttons())
            if (box->buttonRole(b) == QDialogButtonBox::AcceptRole)
                return qobject_cast<QPushButton *>(b);
    return nullptr;
}

QPushButton *cancelButton(QFileDialog *d)
{
    for (auto *box : d->findChildren<QDialogButtonBox *>())
        if (auto *b = box->button(QDialogButtonBox::Cancel))
            return b;
    return nullptr;
}

// Answers as the user does: types the name and confirms; returns the confirm
// button's label. (selectFile is no stand-in for typing: it leaves the name
// field alone while that has the focus.)
QString answer(QFileDialog *d, const QString &name)
{
    auto *edit = d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    QPushButton *b = acceptButton(d);
    if (!edit || !b) {
        ADD_FAILURE() << "no file name field or no confirm button";
        return {};
    }
    edit->setText(name);
    const QString label = b->text();
    b->click();
    return label;
}

// True once the folder the dialog shows has been listed. The dialog lists
// folders in the background; a person acts on what the listing shows.
bool listed(QFileDialog *d)
{
    auto *model = d->findChild<QFileSystemModel *>();
    return model && model->rowCount(model->index(d->directory().absolutePath())) > 0;
}

// Runs `steps` one by one on the dialog, each once the dialog is up and its
// folder listed, from the dialog's own event loop. A dialog still open after
// a few seconds is closed with a failure, so a broken test cannot hang the run.
void whenDialogShows(std::vector<std::function<void(QFileDialog *)>> steps)
{
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, steps = std::move(steps), next = size_t{0}, ticks = 0]() mutable {
        auto *d = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!d || !listed(d)) {
            if (++ticks <= 500)
                return;
            ADD_FAILURE() << "dialog never showed or never listed its folder";
            if (d)
                static_cast<QDialog *>(d)->done(QDialog::Rejected);
            next = steps.size();
        } else {
            if (next == 0)
                QTimer::singleShot(5000, d, [d] {
                    ADD_FAILURE() << "dialog was not closed by the test";
                    static_cast<QDialog *>(d)->done(QDialog::Rejected);
                });
            ticks = 0;
            steps[next++](d);
        }
        if (next == steps.size()) {
            poll->stop();
            poll->deleteLater();
        }
    });
    poll->start(10);
}

const char *g_answer = "";
int g_result = 0;

int answeringHook(const char *, const char *, const char *, const char *, int, char pathOut[FILE_PATH_MAX])
{
    std::strncpy(pathOut, g_answer, FILE_PATH_MAX);    // may leave it unterminated
    return g_result;
}

int popup(const std::string &dir, const char *name, int style, int restrictDir, int restrictExt,
          int allowCancel, char *out)
{
    return FileSelectPopup(dir.c_str(), name, "*.cfg", "Q-VAR-RDX3 Parameter File", style,
                           restrictDir, restrictExt, allowCancel, 1, out);
}

} // namespace

// A hook answers in place of the dialog (what the other tests' dialogs are);
// its answer is bounded like the dialog's, and a cancel leaves the path alone.
TEST(FileSelectHook, AnswersInPlaceOfTheDialog)
{
    SetFileSelectHook(answeringHook);
    char out[FILE_PATH_MAX] = "before";
    g_answer = "/data/new.cfg";
    g_result = 2;
    EXPECT_EQ(FileSelectPopup("/data", "x", "*.cfg", "T", FILE_BUTTON_SAVE, 0, 1, 1, 1, out), 2);
    EXPECT_STREQ(out, "/data/new.cfg");
    g_answer = "/data/ignored.cfg";
    g_result = 0;
    EXPECT_EQ(FileSelectPopup("/data", "x", "*.cfg", "T", FILE_BUTTON_OK, 0, 1, 1, 1, out), 0);
    EXPECT_STREQ(out, "/data/new.cfg");
    std::string huge(FILE_PATH_MAX, 'p');
    g_answer = huge.c_str();
    g_result = 1;
    EXPECT_LT(FileSelectPopup("/data", "x", "*.cfg", "T", FILE_BUTTON_OK, 0, 1, 1, 1, out), 0);
    EXPECT_STREQ(out, "/data/new.cfg");
    SetFileSelectHook(nullptr);
}

// Load picks an existing file, Save may name a new one and gets the filter's
// extension, cancel leaves the path alone; callbacks are blocked meanwhile.
TEST(FileSelectDialog, AnswersByButtonStyle)
{
    struct Case {
        int style;
        const char *typed;          // nullptr: cancel
        int rc;
        const char *picked;         // nullptr: the path is left alone
        const char *label;
    } cases[] = {
        {FILE_BUTTON_LOAD, "a.cfg", 1, "a.cfg", "Load"},
        {FILE_BUTTON_SAVE, "fresh", 2, "fresh.cfg", "Save"},
        {FILE_BUTTON_OK, nullptr, 0, nullptr, "OK"},
    };
    TempDir tmp;
    tmp.touch("a.cfg");
    tmp.touch("b.txt");
    qvar::pump::Inside pumping;
    ASSERT_TRUE(qvar::pump::dispatch_allowed());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        char out[FILE_PATH_MAX] = "before";
        bool allowedInDialog = true;
        QString title, label, folder;
        QStringList filters;
        whenDialogShows({[&](QFileDialog *d) {
            allowedInDialog = qvar::pump::dispatch_allowed();
            title = d->windowTitle();
            folder = d->directory().absolutePath();
            filters = d->nameFilters();
            if (c.typed) {
                label = answer(d, QString::fromUtf8(c.typed));
            } else {
                label = acceptButton(d) ? acceptButton(d)->text() : QString();
                static_cast<QDialog *>(d)->reject();
            }
        }});
        EXPECT_EQ(popup(tmp.path(), "RDX3para.cfg", c.style, 0, 1, 1, out), c.rc);
        EXPECT_EQ(std::string(out), c.picked ? tmp.file(c.picked) : "before");
        EXPECT_FALSE(allowedInDialog);
        EXPECT_TRUE(qvar::pump::dispatch_allowed());
        EXPECT_EQ(title, QStringLiteral("Q-VAR-RDX3 Parameter File"));
        EXPECT_EQ(label.toStdString(), c.label);
        EXPECT_EQ(fs::canonical(folder.toStdString()), fs::canonical(tmp.path()));
        EXPECT_EQ(filters, QStringList{QStringLiteral("*.cfg")});
    }
}

// Also: an existing file is chosen to be saved to only after the user has
// said yes to replacing it.
TEST(FileSelectDialog, NoCancelWhenCancelIsNotAllowed)
{
    TempDir tmp;
    tmp.touch("QVARrecord.dat");
    char out[FILE_PATH_MAX] = "before";
    bool visibleAfterReject = false, cancelShown = true;
    QString label, question;
    QTimer yes;
    QObject::connect(&yes, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            question = box->text();
            box->button(QMessageBox::Yes)->click();
        }
    });
    whenDialogShows({[&](QFileDialog *d) {
        auto *c = cancelButton(d);
        cancelShown = c && c->isVisible();
        static_cast<QDialog *>(d)->reject();
        visibleAfterReject = d->isVisible();
        yes.start(10);
        label = answer(d, QStringLiteral("QVARrecord.dat"));
    }});
    EXPECT_EQ(FileSelectPopup(tmp.path().c_str(), "QVARrecord.dat", "*.dat",
                              "Q-VAR-Series Recorder-File:", FILE_BUTTON_OK, 0, 1, 0, 1, out), 1);
    yes.stop();
    EXPECT_EQ(std::string(out), tmp.file("QVARrecord.dat"));
    EXPECT_TRUE(visibleAfterReject);
    EXPECT_FALSE(cancelShown);
    EXPECT_EQ(label, QStringLiteral("OK"));
    EXPECT_TRUE(question.contains(QStringLiteral("already exists"))) << question.toStdString();
}

TEST(FileSelectDialog, FixedFolderRefusesFilesElsewhere)
{
    TempDir tmp;
    fs::create_directory(tmp.file("sub"));
    tmp.touch("sub/x.cfg");
    tmp.touch("here.cfg");
    char out[FILE_PATH_MAX] = "before";
    bool stillOpen = false;
    whenDialogShows({[&](QFileDialog *d) {
        answer(d, QString::fromStdString(tmp.file("sub/x.cfg")));
        stillOpen = d->isVisible();
    }, [&](QFileDialog *d) { answer(d, QStringLiteral("here.cfg")); }});
    EXPECT_EQ(popup(tmp.path(), "RDX3para.cfg", FILE_BUTTON_LOAD, 1, 1, 1, out), 1);
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(std::string(out), tmp.file("here.cfg"));
}

// Qt lists no name whose bytes are not UTF-8, and spells one with U+FFFD, a
// spelling that names no file. The dialog lists such files itself; what it
// gives back, and what the viewer opens, is the name as it is on disk.
TEST(FileSelectDialog, NameThatIsNotUtf8OpensAsItIsOnDisk)
{
    TempDir tmp;
    const std::string odd = tmp.file("run-\xff\xfe.dat");
    std::ofstream(odd) << "Q-VAR-RDX3-RECORDER-FILE: Time-Interval[s]: 1\n1\t2\t3\t4\n";
    tmp.touch("other.dat");
    char out[FILE_PATH_MAX] = "before";
    QString listedAs, typed;
    whenDialogShows({[&](QFileDialog *d) {
        auto *list = d->findChild<QListWidget *>(QStringLiteral("undecodableFiles"));
        if (!list || list->count() != 1 || !list->isVisible()) {
            ADD_FAILURE() << "the file is not listed";
            static_cast<QDialog *>(d)->done(QDialog::Rejected);
            return;
        }
        listedAs = list->item(0)->text();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
        typed = d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->text();
        acceptButton(d)->click();
    }});
    EXPECT_EQ(FileSelectPopup(tmp.path().c_str(), "", "*.dat", "Open recording", FILE_BUTTON_LOAD, 0, 1, 1, 0, out), 1);
    EXPECT_EQ(QStringLiteral("run-\uFFFD\uFFFD.dat"), listedAs);
    EXPECT_EQ(listedAs, typed) << "choosing it puts its name into the name field";
    EXPECT_EQ(odd, std::string(out));

    ASSERT_EQ(0, ShowRecording(odd.c_str()));
    int viewers = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *viewer = dynamic_cast<qvar::ui::RecordingViewer *>(w); viewer && ++viewers) {
            qvar_test::PumpUntil([&] { return !viewer->reading(); }, 10.0);
            EXPECT_EQ(1u, viewer->recording().samples()) << viewer->message().toStdString();
            delete viewer;
        }
    EXPECT_EQ(1, viewers);
}

TEST(FileSelectDialog, PathTooLongForTheBufferIsAnError)
{
    TempDir tmp;
    std::string deep = tmp.path();
    while (deep.size() < FILE_PATH_MAX)
        deep += "/" + std::string(60, 'd');
    fs::create_directories(deep);
    std::ofstream(deep + "/old.cfg") << "1\n";
    char out[FILE_PATH_MAX] = "before";
    whenDialogShows({[](QFileDialog *d) { answer(d, QStringLiteral("long.cfg")); }});
    EXPECT_EQ(popup(deep, "RDX3para.cfg", FILE_BUTTON_SAVE, 0, 1, 1, out), FILE_ERR_TOO_LONG);
    EXPECT_STREQ(out, "before");
}

namespace {

QFileDialog *shownSaveDialog()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *d = qobject_cast<QFileDialog *>(w); d && d->isVisible())
            return d;
    return nullptr;
}

void noteChosen(const char *path, void *data)
{
    auto *seen = static_cast<std::vector<std::string> *>(data);
    seen->push_back(path ? path : "(cancelled)");
}

} // namespace

TEST(FileSaveDialog, ReturnsAtOnceAndAnswersOnceWhenChosenOrCancelled)
{
    TempDir tmp;
    tmp.touch("old.csv");   // something to list
    std::vector<std::string> seen;
    for (const char *typed : {"chart", static_cast<const char *>(nullptr)}) {
        FileSavePopupThen(tmp.path().c_str(), "x.csv", "*.csv", "Save data", noteChosen, &seen);
        EXPECT_EQ(seen.size(), typed ? 0u : 1u) << "nothing chosen before the dialog answers";
        QFileDialog *d = nullptr;
        for (int i = 0; i < 2000 && !(d && listed(d)); ++i) {   // up to 10 s on a loaded machine
            QApplication::processEvents();
            QThread::msleep(5);
            d = shownSaveDialog();
        }
        ASSERT_TRUE(d && listed(d));
        EXPECT_EQ(fs::canonical(d->directory().absolutePath().toStdString()), fs::canonical(tmp.path()));
        if (typed)
            answer(d, QString::fromLatin1(typed));
        else
            d->reject();
        for (int i = 0; i < 100 && shownSaveDialog(); ++i)
            QApplication::processEvents();
    }
    EXPECT_EQ(seen, (std::vector<std::string>{tmp.file("chart.csv"), "(cancelled)"}));

    SetFileSelectHook(answeringHook);   // a hook answers before the call returns
    g_answer = "/tmp/hooked.csv";
    g_result = 2;
    FileSavePopupThen(tmp.path().c_str(), "x.csv", "*.csv", "Save data", noteChosen, &seen);
    SetFileSelectHook(nullptr);
    EXPECT_EQ(seen.back(), "/tmp/hooked.csv");
}
