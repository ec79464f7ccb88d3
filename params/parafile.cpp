// parafile.cpp - the parameter file: 32 numbers, one per line in 5-character
// fields; the channel A block, then the channel B block, each as packed for
// the controller. Loading always puts the first half into channel A and the
// second into B, whatever their channel words say, and the common parameters
// end up with channel B's values because B is unpacked last.
#include "state/qvar.h"
#include "link/com232.h"
#include "link/protocol.h"
#include "params/params.h"
#include "platform/files/files.h"

#include <cstdint>

namespace {
enum { FILE_WORDS = 2 * FRAME_WORDS };

const char *LoadErrorText(int code)
{
    switch (code) {
    case FILE_ERR_SHORT: return "Parameter file holds fewer than 32 numbers!";
    case FILE_ERR_FORMAT: return "Parameter file holds a value that is not a number!";
    default: return "Cannot read parameter file!";
    }
}
} // namespace

const char *ParaFileErrorText(int code)
{
    return LoadErrorText(code);
}

int ParaFileDialog(int buttonStyle)
{
    return FileSelectPopup(proj_dir, "RDX3para.cfg", "*.cfg", "Q-VAR-RDX3 Parameter File",
                           buttonStyle, 0, 1, 1, 1, file_name);
}

int WriteParaFile(const char *path)
{
    uint32_t words[FILE_WORDS];

    CopyVarsToPP(CHANNEL_A);
    for (int i = 0; i < FRAME_WORDS; i++)
        words[i] = pp[i];
    CopyVarsToPP(CHANNEL_B);
    for (int i = 0; i < FRAME_WORDS; i++)
        words[FRAME_WORDS + i] = pp[i];
    return ArrayToFile(path, words, FILE_ELEM_U32, FILE_WORDS, 1, FILE_GROUPS_TOGETHER,
                       FILE_LAYOUT_COLUMNS, FILE_SEP_FIXED, 5, FILE_TEXT, FILE_REPLACE);
}

int ReadParaFileWords(const char *path, uint32_t words[32])
{
    return FileToArray(path, words, FILE_ELEM_U32, FILE_WORDS, 1, FILE_GROUPS_TOGETHER,
                       FILE_LAYOUT_COLUMNS, FILE_TEXT);
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
    GetPanelValues();
    // A lost save must not look like a done one.
    if (WriteParaFile(file_name) < 0)
        ShowStatus("Cannot write parameter file!");
}

void ReadParaFromFile(void)
{
    uint32_t words[FILE_WORDS];

    if (ParaFileDialog(FILE_BUTTON_LOAD) <= 0)
        return;
    int r = ReadParaFileWords(file_name, words);
    if (r < 0) {
        // Nothing of a bad file reaches the variables.
        ShowStatus(LoadErrorText(r));
        return;
    }
    ParaWordsToVars(words);
}
