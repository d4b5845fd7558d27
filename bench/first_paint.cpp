// Preloaded into a Qt program by bench_exec: at the first paint of a dialog,
// once that paint is done, appends one line to the file named by
// QUORVEL_BENCH_REPORT (when set) and ends the process at once, so that its
// run time is its time from start to the dialog on screen. The line gives,
// in milliseconds since bench_exec started the program, when the application
// object was made (app_ms), when the load began, with the first bus scan, and
// when its last vendor request before the dialog was answered (load_start_ms,
// load_end_ms; -1 for a program without libusb), when the dialog received
// its first event, as its first control was added (dialog_ms), when it was
// shown (show_ms) and when its first paint was done (paint_ms); then the
// number of vendor requests before the dialog, and VmHWM and VmRSS in kB.
//
// The libusb calls are seen by interposing usb_find_busses and
// usb_control_msg, which then go on to libusb's own.
#include <QCoreApplication>
#include <QDialog>
#include <QEvent>
#include <QMetaObject>
#include <QWidget>

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// Milliseconds since QUORVEL_BENCH_T0; -1 without it.
double SinceExec()
{
    const char *t0 = getenv("QUORVEL_BENCH_T0");
    if (!t0 || !*t0)
        return -1;
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec * 1000000000LL + now.tv_nsec - atoll(t0)) / 1e6;
}

struct Times {
    double app = -1, loadStart = -1, loadEnd = -1, dialog = -1, show = -1, paint = -1;
    int requests = 0; // vendor requests before the dialog
};

Times times;

void Report(const Times &t)
{
    const char *path = getenv("QUORVEL_BENCH_REPORT");
    if (!path || !*path)
        return;
    long hwm = -1, rss = -1;
    if (FILE *status = fopen("/proc/self/status", "r")) {
        char line[256];
        while (fgets(line, sizeof(line), status)) {
            if (strncmp(line, "VmHWM:", 6) == 0)
                hwm = atol(line + 6);
            else if (strncmp(line, "VmRSS:", 6) == 0)
                rss = atol(line + 6);
        }
        fclose(status);
    }
    if (FILE *report = fopen(path, "a")) {
        fprintf(report,
                "app_ms=%.3f load_start_ms=%.3f load_end_ms=%.3f dialog_ms=%.3f show_ms=%.3f "
                "paint_ms=%.3f requests=%d vmhwm_kb=%ld vmrss_kb=%ld\n",
                t.app, t.loadStart, t.loadEnd, t.dialog, t.show, t.paint, t.requests, hwm, rss);
        fclose(report);
    }
}

class FirstPaint final : public QObject {
public:
    explicit FirstPaint(QObject *parent) : QObject(parent) { times.app = SinceExec(); }

    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (painted_ || !object->isWidgetType())
            return false;
        auto *widget = static_cast<QWidget *>(object);
        if (!widget->isWindow() || !qobject_cast<QDialog *>(widget))
            return false;
        if (times.dialog < 0)
            times.dialog = SinceExec();
        if (event->type() == QEvent::Show && times.show < 0)
            times.show = SinceExec();
        if (event->type() == QEvent::Paint) {
            painted_ = true;
            // Runs once the whole window is painted and flushed.
            QMetaObject::invokeMethod(this, &FirstPaint::Finish, Qt::QueuedConnection);
        }
        return false;
    }

private:
    void Finish()
    {
        times.paint = SinceExec();
        Report(times);
        fflush(stdout);
        fflush(stderr);
        _exit(0);
    }

    bool painted_ = false;
};

void Install()
{
    QCoreApplication *application = QCoreApplication::instance();
    application->installEventFilter(new FirstPaint(application));
}

template <typename Function>
Function Next(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(Install)

extern "C" {

int usb_find_busses(void)
{
    static const auto next = Next<int (*)()>("usb_find_busses");
    if (times.loadStart < 0)
        times.loadStart = SinceExec();
    return next();
}

int usb_control_msg(void *dev, int requesttype, int request, int value, int index, char *bytes,
                    int size, int timeout)
{
    static const auto next =
        Next<int (*)(void *, int, int, int, int, char *, int, int)>("usb_control_msg");
    const int result = next(dev, requesttype, request, value, index, bytes, size, timeout);
    if (requesttype == 0xC0 && times.dialog < 0) { // a vendor request before the dialog
        times.loadEnd = SinceExec();
        times.requests++;
    }
    return result;
}
}
