// settings.h - the user's own choices kept between runs, and the user's
// configuration folder they live in.
//
// Contract
// - The folder is $XDG_CONFIG_HOME/qvar-scope when XDG_CONFIG_HOME is an
//   absolute path, else <home>/.config/qvar-scope with home from $HOME when
//   absolute, else from the password database. The pinned port links
//   (serial.h) lie in its "ports" folder.
// - Choices are named on/off values in one small text file there,
//   "settings", one "name=0" or "name=1" per line. Nothing else is kept.
// - Reading never blocks and never fails: a missing, unreadable or odd file
//   (no regular file, larger than a few KiB, a line not understood) gives the
//   caller's fallback for what it cannot tell. Saving replaces the file as a
//   whole (written beside it, then renamed into place) and keeps every other
//   choice in it; a failed save leaves the old file as it was.
#pragma once

// The configuration folder into `buffer`; its length, or -1 when there is no
// home folder or the buffer is too small.
int UserConfigDir(char *buffer, int size);

// The choice `name` (letters, digits and '-'), or `fallback` when none is kept.
int  GetUserChoice(const char *name, int fallback);
// Keeps `value` (0 or 1) under `name`; 0, or -1 when it could not be saved.
int  SetUserChoice(const char *name, int value);
