// Renders the main dialog, loaded from the board (a simulated one under
// quorvel-sim), to a PNG: grab_dialog OUTPUT.png
#include "RdsUsbMain.h"
#include "resource.h"
#include "usbInterface.h"

#include <QApplication>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: grab_dialog OUTPUT.png\n");
        return 2;
    }
    QApplication application(argc, argv);
    if (InitDataEdit() != 0) {
        fprintf(stderr, "grab_dialog: no board\n");
        return 1;
    }
    bool saved = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget *dialog = QApplication::activeModalWidget();
        if (!dialog || !dialog->isVisible())
            return;
        poll.stop();
        saved = dialog->grab().save(QString::fromLocal8Bit(argv[1]));
        dialog->close(); // the close box: the dialog ends as Quit does
    });
    poll.start(50);
    DialogBoxParamA(&ProgramInstance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDlg, 0);
    usbCloseDevice(UsbRDSBoard);
    return saved ? 0 : 1;
}
