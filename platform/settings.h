// settings.h - the user's configuration folder.
//
// Contract
// - The folder is $XDG_CONFIG_HOME/qvar-scope when XDG_CONFIG_HOME is an
//   absolute path, else <home>/.config/qvar-scope with home from $HOME when
//   absolute, else from the password database. The pinned port links
//   (serial.h) lie in its "ports" folder.
#pragma once

// The configuration folder into `buffer`; its length, or -1 when there is no
// home folder or the buffer is too small.
int UserConfigDir(char *buffer, int size);
