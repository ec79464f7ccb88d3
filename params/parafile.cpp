// parafile.cpp - the parameter file: 32 numbers, one per line in 5-character
// fields; the channel A block, then the channel B block, each as packed for
// the controller. Loading always puts the first half into channel A and the
// second into B, whatever their channel words say, and the common parameters
// end up with channel B's values because B is unpacked last.
//
// The tool and qvar-cli read through the one reader here, so a file one of
// them refuses the other refuses too: exactly 32 numbers of 16 bits and
// nothing after them. A number that does not fit is refused rather than cut,
// since the cut value would be sent to the controller as if it were meant.
#include "state/qvar.h"
#include "link/com232.h"
#include "link/protocol.h"
#include "params/params.h"
#include "platform/files/files.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {
enum { FILE_WORDS = 2 * FRAME_WORDS };

// Both channels' blocks from the variables, as the file holds them.
void PackWords(uint32_t words[FILE_WORDS])
{
    uint16_t blocks[2][16];
    PackParaBlocks(blocks);
    for (int i = 0; i < FILE_WORDS; i++)
        words[i] = blocks[i / FRAME_WORDS][i % FRAME_WORDS];
}

bool AllDigits(const char *text)
{
    for (; *text; text++)
        if (*text < '0' || *text > '9')
            return false;
    return true;
}

void Describe(int code, const FilePlace &at, char *why, int size)
{
    switch (code) {
    case FILE_ERR_OPEN:
        std::snprintf(why, size_t(size), "not a readable regular file");
        break;
    case FILE_ERR_TOO_BIG:
        std::snprintf(why, size_t(size), "too large for a parameter file");
        break;
    case FILE_ERR_SHORT:
        std::snprintf(why, size_t(size), "holds fewer than 32 numbers (%d)", at.number);
        break;
    case FILE_ERR_FORMAT:
        std::snprintf(why, size_t(size), "line %d: number %d (%s) is not a number", at.line,
                      at.number, at.text);
        break;
    case FILE_ERR_RANGE:
        std::snprintf(why, size_t(size), "line %d: number %d (%s) is above 65535", at.line,
                      at.number, at.text);
        break;
    case FILE_ERR_EXTRA:
        std::snprintf(why, size_t(size),
                      AllDigits(at.text) ? "line %d: a 33rd number (%s), a parameter file holds 32"
                                         : "line %d: text after the 32nd number (%s)",
                      at.line, at.text);
        break;
    default:
        std::snprintf(why, size_t(size), "%s", FileErrorText(code));
        break;
    }
}

// The name without its folder, which the status line has no room for.
const char *BaseName(const char *path)
{
    const char *slash = std::strrchr(path, '/');
    return slash && slash[1] ? slash + 1 : path;
}

} // namespace

int ParaFileDialog(int buttonStyle)
{
    return FileSelectPopup(proj_dir, "RDX3para.cfg", "*.cfg", "Q-VAR-RDX3 Parameter File",
                           buttonStyle, 0, 1, 1, 1, file_name);
}

int WriteParaFile(const char *path)
{
    uint32_t words[FILE_WORDS];
    PackWords(words);
    return ArrayToFile(path, words, FILE_ELEM_U32, FILE_WORDS, 1, FILE_GROUPS_TOGETHER,
                       FILE_LAYOUT_COLUMNS, FILE_SEP_FIXED, 5, FILE_TEXT, FILE_REPLACE);
}

int ParaFileText(char *text, int size)
{
    uint32_t words[FILE_WORDS];
    PackWords(words);
    return ArrayToText(text, size, words, FILE_ELEM_U32, FILE_WORDS, 1, FILE_GROUPS_TOGETHER,
                       FILE_LAYOUT_COLUMNS, FILE_SEP_FIXED, 5);
}

int ReadParaFileWords(const char *path, uint32_t words[32], char *why, int whySize)
{
    FilePlace at = {};
    const int r = FileToNumbers(path, words, FILE_WORDS, 0xFFFF, &at);
    if (r < 0 && why && whySize > 0)
        Describe(r, at, why, whySize);
    return r;
}

void ParaWordsToVars(const uint32_t words[32])
{
    for (int i = 0; i < FRAME_WORDS; i++)
        pp[i] = (uint16_t)(words[i] & 0xFFFF);
    CopyPPtoVars(CHANNEL_A);
    for (int i = 0; i < FRAME_WORDS; i++)
        pp[i] = (uint16_t)(words[FRAME_WORDS + i] & 0xFFFF);
    CopyPPtoVars(CHANNEL_B);
}

void SendParaToFile(void)
{
    char text[TEXT_LEN + PATH_LEN];
    GetPanelValues();
    // A lost save must not look like a done one, nor a done one like nothing.
    const int r = WriteParaFile(file_name);
    if (r < 0)
        std::snprintf(text, sizeof text, "Cannot write parameter file! - %s: %s", BaseName(file_name),
                      FileErrorText(r));
    else
        std::snprintf(text, sizeof text, "Parameter file saved - %s", BaseName(file_name));
    ShowStatus(text);
}

bool ReadParaFromFile(void)
{
    uint32_t words[FILE_WORDS];
    char why[96], text[sizeof why + PATH_LEN + 40];

    if (ParaFileDialog(FILE_BUTTON_LOAD) <= 0)
        return false;
    if (ReadParaFileWords(file_name, words, why, sizeof why) < 0) {
        // Nothing of a refused file reaches the variables.
        std::snprintf(text, sizeof text, "Cannot load parameter file! - %s: %s", BaseName(file_name), why);
        ShowStatus(text);
        return false;
    }
    ParaWordsToVars(words);
    std::snprintf(text, sizeof text, "Parameter file loaded - %s", BaseName(file_name));
    ShowStatus(text);
    return true;
}
