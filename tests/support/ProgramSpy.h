// Link-time wraps (ld --wrap, see quorvel_program_spy) of calls the program
// makes, for what neither the platform nor libusb shows: a message box's
// text before the platform turns its line breaks into one form (and an
// answer given without showing it), a window class registration that
// fails, and how often a board is closed.
#ifndef PROGRAM_SPY_H
#define PROGRAM_SPY_H

#include "windows.h"

#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace spy {

struct Box {
    QWidget *owner; // the owner window, or null
    std::string text, caption;
    UINT type;
};

extern std::vector<Box> boxes; // every MessageBoxA, in order
// When set, answers each MessageBoxA in place of the box, which is not shown.
extern std::function<int(const Box &)> answer;
extern bool failClassRegistration; // RegisterClassExA gives 0 without registering
extern int boardCloses;            // usb_close calls, a second one on a handle included

void reset();

} // namespace spy

#endif
