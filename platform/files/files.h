// files.h - file services: the file-selection dialog, array <-> file
// transfer, program directory, path helpers and bounded text copies.
//
// Contract
// - Path buffers are FILE_PATH_MAX (260) bytes, terminator included. Nothing
//   here writes past a buffer or silently cuts a path: a result that does not
//   fit is reported (FILE_ERR_TOO_LONG) and the buffer is left as it was.
// - ArrayToFile writes `count` elements as `groups` groups. Text files: one
//   line per row, rows ended by LF. FILE_LAYOUT_COLUMNS puts each group into a
//   column; with FILE_SEP_FIXED every value is right-aligned in `fieldWidth`
//   characters, with FILE_SEP_TAB values are separated by one tab and not
//   padded. FILE_BINARY writes the elements' raw bytes.
// - FileToArray reads numbers back in file order: LF or CR LF line ends,
//   blanks and tabs between numbers. It fails with FILE_ERR_SHORT when the file
//   holds fewer numbers than asked and FILE_ERR_FORMAT when it holds something
//   that is not a number; `array` is then left unchanged.
// - Files are opened by name without blocking and used only when they are
//   regular files: a FIFO, a device or a link to one fails at once
//   (FILE_ERR_OPEN) and is left untouched. FileToArray refuses a file of more
//   than FILE_READ_MAX bytes (FILE_ERR_TOO_BIG).
// - No failed write loses a file. A write that fails (full disk, I/O error,
//   short write, failed flush) is taken back: the file keeps what it held
//   before the call, a file the call created is removed again, and nothing
//   is left beside it. Replacing (FILE_REPLACE, WriteWholeFile) writes a
//   temporary file beside the name, flushes it to the disk and renames it
//   over the name only then; appending cuts the file back to its old length.
//   FileErrorText says why the last call on this thread failed.
// - FileSelectPopup returns 0 when cancelled, 1 when an existing file was
//   chosen, 2 for a new file name, negative on error. Saving to an existing
//   file is chosen only after the user said yes to replacing it. Tests answer
//   it through SetFileSelectHook instead of a person.
#pragma once

#include <cstdint>

enum { FILE_PATH_MAX = 260 };

enum {
    FILE_ERR_OPEN     = -1,    // cannot open / create the file
    FILE_ERR_IO       = -2,    // read or write failed
    FILE_ERR_SHORT    = -3,    // fewer numbers than asked
    FILE_ERR_FORMAT   = -4,    // something that is not a number
    FILE_ERR_PARAM    = -5,    // invalid arguments
    FILE_ERR_TOO_LONG = -6,    // result does not fit the buffer
    FILE_ERR_TOO_BIG  = -7,    // file larger than the reader accepts
    FILE_ERR_RANGE    = -8,    // a number larger than the caller takes
    FILE_ERR_EXTRA    = -9,    // something after the numbers asked for
    FILE_ERR_FOLDER   = -10,   // the folder is missing or cannot be written
};

enum { FILE_READ_MAX = 64 * 1024 };

enum { FILE_ELEM_CHAR = 1, FILE_ELEM_U32 = 2 };
enum { FILE_GROUPS_TOGETHER = 0, FILE_GROUPS_INTERLEAVED = 1 };
enum { FILE_LAYOUT_COLUMNS = 0, FILE_LAYOUT_ROWS = 1 };
enum { FILE_SEP_TAB = 0, FILE_SEP_FIXED = 1 };
enum { FILE_TEXT = 0, FILE_BINARY = 1 };
enum { FILE_REPLACE = 0, FILE_APPEND = 1 };
enum { FILE_BUTTON_OK = 0, FILE_BUTTON_SAVE = 1, FILE_BUTTON_LOAD = 2 };

int ArrayToFile(const char *file, const void *array, int elemType, int count, int groups,
                int groupOrder, int layout, int separator, int fieldWidth, int fileType,
                int action);
int FileToArray(const char *file, void *array, int elemType, int count, int groups,
                int groupOrder, int layout, int fileType);
// What ArrayToFile writes for a text file, into `text` of `size` bytes,
// terminated: its length, or FILE_ERR_TOO_LONG (text unchanged) when it does
// not fit.
int ArrayToText(char *text, int size, const void *array, int elemType, int count, int groups,
                int groupOrder, int layout, int separator, int fieldWidth);

// Where a file of numbers went wrong: the number (1-based, in file order) and
// the line it stands on, and its first characters (printable ASCII only).
struct FilePlace {
    int number;
    int line;
    char text[24];
};
// Reads a text file that holds exactly `count` unsigned numbers of at most
// `max` each and nothing else (blanks, tabs and LF or CR LF line ends between
// them). 0, or FILE_ERR_SHORT (fewer numbers; `at->number` says how many),
// FILE_ERR_FORMAT (something that is not a number), FILE_ERR_RANGE (a number
// above `max`), FILE_ERR_EXTRA (anything after the last number), with `at`
// naming the place; the FileToArray codes for a file that cannot be read.
// `values` changes only on success.
int FileToNumbers(const char *file, uint32_t *values, int count, uint32_t max, FilePlace *at);

// Replaces `file` with `size` bytes as one step (see the contract above): a
// file that exists must be a regular file and writable, and keeps its
// permissions; a link is followed and kept. 0, FILE_ERR_OPEN, FILE_ERR_IO.
int WriteWholeFile(const char *file, const void *data, long long size);

// Why the last call of this service on this thread failed with `code`: the
// system's words where a system call failed ("No space left on device"),
// else a short description of the code.
const char *FileErrorText(int code);

int FileSelectPopup(const char *startDir, const char *defaultName, const char *filter,
                    const char *title, int buttonStyle, int restrictDir, int restrictExt,
                    int allowCancel, int allowMakeDir, char pathOut[FILE_PATH_MAX]);

// Answers FileSelectPopup in place of the dialog: gets the settings the caller
// passed, fills the path and returns the dialog's result. nullptr restores
// the dialog.
typedef int (*FileSelectHook)(const char *startDir, const char *defaultName, const char *filter,
                              const char *title, int buttonStyle, char pathOut[FILE_PATH_MAX]);
void SetFileSelectHook(FileSelectHook hook);

// Asks for a file to save to without waiting for the answer: the dialog
// starts in `startDir`, the program's loops keep running, and `done(path,
// data)` runs once a name is chosen (not at all when cancelled). With a hook
// set, the hook answers at once and `done` runs before this returns.
typedef void (*FileChosenPtr)(const char *path, void *data);
void FileSavePopupThen(const char *startDir, const char *defaultName, const char *filter,
                       const char *title, FileChosenPtr done, void *data);

// The program's directory, or where it is installed in a folder the user cannot
// write, a folder the user can write ($XDG_DATA_HOME/qvar-scope, by default
// ~/.local/share/qvar-scope, with the home from the password database when
// HOME is unset), created on demand. FILE_ERR_OPEN, `dir` unchanged, when
// there is no such folder.
int GetProjectDir(char dir[FILE_PATH_MAX]);
// The folder that holds the program itself, where its resource files lie.
int GetProgramDir(char dir[FILE_PATH_MAX]);
// The folders the program's resource files (panels, bitmaps) are looked for
// in, in order: the program's own folder, then ../share/qvar-scope beside it,
// where an installation puts them. Returns how many (FILE_RESOURCE_DIRS) or a
// negative code.
enum { FILE_RESOURCE_DIRS = 2 };
int GetResourceDirs(char dirs[FILE_RESOURCE_DIRS][FILE_PATH_MAX]);
// The first of those folders' `name` that is a regular file; FILE_ERR_OPEN
// when none is (path unchanged).
int FindResourceFile(const char *name, char path[FILE_PATH_MAX]);
int MakePathname(const char *dir, const char *name, char path[FILE_PATH_MAX]);
// Removes a file (or a link to one); 0, or FILE_ERR_OPEN when it could not
// be removed or is no file (a FIFO, a device, a folder: left alone).
int RemoveFile(const char *file);
// Copies `src` into `dst` of `size` bytes. FILE_ERR_TOO_LONG (dst unchanged)
// when it does not fit with its terminator.
int CopyText(char *dst, int size, const char *src);
// Appends `src` to the text in `dst`; FILE_ERR_TOO_LONG (dst unchanged) when it does not fit.
int AppendText(char *dst, int size, const char *src);

// Whether a file can be written under `path` before anything is asked of
// the line: 0 when `path` does not exist yet or is a regular file, in a
// folder that exists and can be written; FILE_ERR_OPEN for something that is
// no regular file, FILE_ERR_FOLDER, FILE_ERR_TOO_LONG for a name the system
// does not take. It opens nothing and does not block.
int CheckOutputFile(const char *path);
