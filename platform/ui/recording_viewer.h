// recording_viewer.h - a recorder file read back and shown in a window of
// its own (platform-internal; the program opens one through ui.h's
// ShowRecording).
//
// Contract
// - ParseRecording reads the text of a recorder file: the 44-character header
//   "Q-VAR-RDX3-RECORDER-FILE: Time-Interval[s]: ", the interval and a line
//   end, then one line per sample of four unsigned 32-bit numbers separated
//   by single tabs, ended by LF or CR LF. It stops at the first line that is
//   not so and says which ("line 1234: not a number"); every sample before it
//   is kept. A last line without its line end counts as cut off. A
//   RecordingParser does the same for text that comes in pieces.
// - A RecordingRead reads a file by name (its bytes as they are on disk, so
//   a name that is not UTF-8 opens too) on a thread of its own: regular files
//   of at most kRecordingMaxBytes only, opened without blocking before the
//   thread starts. It never holds the whole text: what it keeps is the
//   samples, at most twice the file's size. Cancelled, it stops within one
//   piece of the file and hands nothing over.
// - A RecordingViewer opens at once and shows the reading's progress with a
//   Cancel button; the window stays usable meanwhile. The samples arrive
//   from the event pump on the GUI thread, all at once: then it shows the
//   four columns as traces over time (sample n at n times the interval, in
//   seconds; the sample number itself for interval 0), each with a check box
//   that hides it, on a ChartView with its usual tools, and a message line
//   below: what was read, or where reading stopped. Cancel (or closing the
//   window) stops the reading and closes the window with nothing shown.
#pragma once

#include "platform/ui/chart_view.h"

#include <QByteArray>
#include <QString>
#include <QWidget>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <thread>
#include <vector>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace qvar::files {
class FileReader;
}

namespace qvar::ui {

constexpr size_t kRecordingMaxBytes = size_t(256) << 20;
constexpr int kRecordingColumns = 4;

struct Recording {
    double interval = 0;               // seconds between samples, from the header
    std::shared_ptr<const std::vector<uint32_t>> values;   // four per sample, as in the file
    std::array<uint32_t, kRecordingColumns> lowest{}, highest{};   // per column, over the samples
    int badLine = 0;                   // where reading stopped (1-based); 0 when it did not
    QString problem;                   // "line 1234: not a number"; empty when all was read
    size_t samples() const { return values ? values->size() / kRecordingColumns : 0; }
};

Recording ParseRecording(std::string_view text);

class RecordingParser {
public:
    explicit RecordingParser(size_t fileSize);   // room for the most samples it can hold
    // Parses the whole lines at the front of [text, text + n); the bytes they
    // took. Nothing more once a line was bad.
    size_t lines(const char *text, size_t n);
    bool stopped() const { return rec_.badLine > 0; }
    // The text has ended; `rest` is what followed its last whole line.
    Recording finish(std::string_view rest);

private:
    size_t header(const char *text, size_t n);
    void stop(const char *why);

    Recording rec_;
    std::vector<uint32_t> values_;
    int line_ = 1;
    bool seen_ = false;
};

class RecordingRead {
public:
    RecordingRead() = default;
    ~RecordingRead();                  // cancels
    RecordingRead(const RecordingRead &) = delete;
    RecordingRead &operator=(const RecordingRead &) = delete;

    // Opens `path` and starts the thread, which calls `done` (on itself) with
    // what it read unless cancelled first. A negative FILE_ERR_ code, with
    // `failed->problem` saying why, when the file cannot be read at all.
    int start(const QByteArray &path, std::function<void(Recording)> done, Recording *failed);
    double fraction() const;           // of the file read so far, 0..1
    void cancel();                     // and waits for the thread

private:
    Recording readAll(files::FileReader &file);

    std::thread thread_;
    std::atomic<bool> cancelled_{false};
    std::atomic<uint64_t> read_{0};
    size_t size_ = 0;
};

class RecordingViewer : public QWidget {
public:
    // `path` as the bytes of the file's name.
    explicit RecordingViewer(const QByteArray &path, QWidget *parent = nullptr);
    ~RecordingViewer() override;

    bool reading() const { return reading_; }
    const Recording &recording() const { return rec_; }
    ChartView *chart() const { return chart_; }
    QCheckBox *traceToggle(int column) const { return toggles_[size_t(column)]; }
    QProgressBar *progress() const { return progress_; }
    QPushButton *cancelButton() const { return cancel_; }
    QString message() const;

protected:
    void closeEvent(QCloseEvent *e) override;

private:
    void finish(Recording r);
    void stopReading();
    void showColumn(int column, bool on);
    void fitValueAxis();

    QString name_;
    Recording rec_;
    RecordingRead read_;
    bool reading_ = false;
    ChartView *chart_ = nullptr;
    QLabel *message_ = nullptr;
    QProgressBar *progress_ = nullptr;
    QPushButton *cancel_ = nullptr;
    QTimer *progressTimer_ = nullptr;
    std::array<QCheckBox *, kRecordingColumns> toggles_{};
    std::array<Samples, kRecordingColumns> hidden_;   // a hidden trace's samples
};

} // namespace qvar::ui
