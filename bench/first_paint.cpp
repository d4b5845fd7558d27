// Preloaded into a Qt program by bench_exec: at the first paint of a dialog,
// once that paint is done, appends to the file named by QUORVEL_BENCH_REPORT
// (when set) the time since bench_exec started the program and the process's
// peak memory, and ends the process at once, so that its run time is its time
// from start to the dialog on screen.
#include <QCoreApplication>
#include <QDialog>
#include <QEvent>
#include <QMetaObject>
#include <QWidget>

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

// The time since the exec, and VmHWM and VmRSS from /proc/self/status, in kB.
void Report()
{
    const double elapsed = SinceExec();
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
        fprintf(report, "exec_to_paint_ms=%.3f vmhwm_kb=%ld vmrss_kb=%ld\n", elapsed, hwm, rss);
        fclose(report);
    }
}

class FirstPaint final : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (!seen_ && event->type() == QEvent::Paint && object->isWidgetType()) {
            auto *widget = static_cast<QWidget *>(object);
            if (widget->isWindow() && qobject_cast<QDialog *>(widget)) {
                seen_ = true;
                // Runs once the whole window is painted and flushed.
                QMetaObject::invokeMethod(this, &FirstPaint::Finish, Qt::QueuedConnection);
            }
        }
        return false;
    }

private:
    void Finish()
    {
        Report();
        fflush(stdout);
        fflush(stderr);
        _exit(0);
    }

    bool seen_ = false;
};

void Install()
{
    QCoreApplication *application = QCoreApplication::instance();
    application->installEventFilter(new FirstPaint(application));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(Install)
