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
//   is kept. A last line without its line end counts as cut off.
// - ReadRecording does the same for a file by name: regular files of at most
//   kRecordingMaxBytes only, opened without blocking.
// - A RecordingViewer shows the four columns as traces over time (sample n at
//   n times the interval, in seconds; the sample number itself for interval
//   0), each with a check box that hides it, on a ChartView with its usual
//   tools, and a message line below: what was read, or where reading stopped.
#pragma once

#include "platform/ui/chart_view.h"

#include <QString>
#include <QWidget>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

class QCheckBox;
class QLabel;

namespace qvar::ui {

constexpr size_t kRecordingMaxBytes = size_t(256) << 20;
constexpr int kRecordingColumns = 4;

struct Recording {
    double interval = 0;               // seconds between samples, from the header
    std::vector<uint32_t> values;      // four per sample, as in the file
    int badLine = 0;                   // where reading stopped (1-based); 0 when it did not
    QString problem;                   // "line 1234: not a number"; empty when all was read
    size_t samples() const { return values.size() / kRecordingColumns; }
};

Recording ParseRecording(std::string_view text);
Recording ReadRecording(const QString &path);

class RecordingViewer : public QWidget {
public:
    explicit RecordingViewer(const QString &path, QWidget *parent = nullptr);

    const Recording &recording() const { return rec_; }
    ChartView *chart() const { return chart_; }
    QCheckBox *traceToggle(int column) const { return toggles_[size_t(column)]; }
    QString message() const;

private:
    void showColumn(int column, bool on);
    void fitValueAxis();

    Recording rec_;
    ChartView *chart_ = nullptr;
    QLabel *message_ = nullptr;
    std::array<QCheckBox *, kRecordingColumns> toggles_{};
    std::array<std::vector<QPointF>, kRecordingColumns> hidden_;   // a hidden trace's points
};

} // namespace qvar::ui
