// The process's entry point: starts Qt and runs the program's WinMain. The
// program takes nothing from its command line; Qt gets only its name.
#include "windows.h"

#include <QApplication>

int main(int, char **argv)
{
    static char defaultName[] = "quorvel";
    int argc = 1;
    char *arguments[] = {argv[0] ? argv[0] : defaultName, nullptr};
    QApplication application(argc, arguments);
    // The program's windows come and go; only WinMain's return ends it.
    QApplication::setQuitOnLastWindowClosed(false);
    char commandLine[] = "";
    return WinMain(&ProgramInstance, nullptr, commandLine, SW_SHOWDEFAULT);
}
