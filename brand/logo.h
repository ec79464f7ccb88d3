// logo.h - the brand banner at the top of the main panel: logo picture, up to
// three supplier lines, and the software's name and version.
#pragma once

// Fills the logo area for brand record `index` (0..6). Indices without a
// record (5, and anything outside 0..6) change nothing.
void ShowLogo(int index);
// One line of banner text as a new text control on the main panel.
void ShowInfoText(int background, int foreground, const char *text, int left, int top, int size);
