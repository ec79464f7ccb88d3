// file_dialog.h - test support: the file-select dialog answered by the test
// in place of the user, and what the program asked it.
#pragma once

#include "platform/files/files.h"

#include <string>

namespace qvar_test {

struct DialogAnswers {
    std::string path;   // the next answer: `path`, with `result` (1 an
    int result = 0;     // existing file, 2 a new name, 0 cancel)
    int calls = 0;      // and what the last call asked
    std::string startDir, defaultName, filter, title;
    int buttonStyle = -1;
};

inline DialogAnswers &Dialog()
{
    static DialogAnswers d;
    return d;
}

// While one lives, Dialog() answers every file-select dialog.
class AnsweredDialogs {
public:
    AnsweredDialogs()
    {
        Dialog() = {};
        SetFileSelectHook(Answer);
    }
    ~AnsweredDialogs() { SetFileSelectHook(nullptr); }
    AnsweredDialogs(const AnsweredDialogs &) = delete;
    AnsweredDialogs &operator=(const AnsweredDialogs &) = delete;

private:
    static int Answer(const char *startDir, const char *defaultName, const char *filter, const char *title,
                      int buttonStyle, char pathOut[FILE_PATH_MAX])
    {
        DialogAnswers &d = Dialog();
        d.calls++;
        d.startDir = startDir;
        d.defaultName = defaultName;
        d.filter = filter;
        d.title = title;
        d.buttonStyle = buttonStyle;
        if (d.result > 0 && CopyText(pathOut, FILE_PATH_MAX, d.path.c_str()) != 0)
            return 0;
        return d.result;
    }
};

} // namespace qvar_test
