// Texts for an OK that writes every one of the 43 fields.
#ifndef BENCH_TEXTS_H
#define BENCH_TEXTS_H

#include "windows.h"

// Puts into each field's edit control a text the board accepts that differs
// from the field's text last loaded or written, so that the next OK writes
// all 43 fields. Alternates between two sets of texts.
void SetChangedTexts(HWND hDlg);

#endif
