// A program on the platform's main(): it must reach WinMain with the module
// and arguments Win32 would give, and Qt must see no command-line option.
#include "windows.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

HINSTANCE__ ProgramInstance = {nullptr, 0};

int WINAPI WinMain(HINSTANCE hThisInstance, HINSTANCE hPrevInstance, LPSTR lpszArgument,
                   int nFunsterStil)
{
    bool good = hThisInstance == &ProgramInstance && !hPrevInstance && lpszArgument &&
                std::strcmp(lpszArgument, "") == 0 && nFunsterStil == SW_SHOWDEFAULT && qApp &&
                QApplication::arguments().size() == 1 && !QApplication::quitOnLastWindowClosed();
    if (!good)
        std::fprintf(stderr, "WinMain reached with the wrong arguments\n");
    return good ? 0 : 3;
}
