// Preloaded into a Qt program by bench_exec: at the first paint of a dialog,
// once that paint is done, appends one line to the file named by
// QUORVEL_BENCH_REPORT (when set) and ends the process at once, so that its
// run time is its time from start to the dialog on screen. The line gives,
// in milliseconds since bench_exec started the program, when the application
// object was made (app_ms), when the dialog received its first event, as its
// first control was added (dialog_ms), when it was shown (show_ms) and when
// its first paint was done (paint_ms); then VmHWM and VmRSS in kB.
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

struct Times {
    double app = -1, dialog = -1, show = -1, paint = -1;
};

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
                "app_ms=%.3f dialog_ms=%.3f show_ms=%.3f paint_ms=%.3f vmhwm_kb=%ld vmrss_kb=%ld\n",
                t.app, t.dialog, t.show, t.paint, hwm, rss);
        fclose(report);
    }
}

class FirstPaint final : public QObject {
public:
    explicit FirstPaint(QObject *parent) : QObject(parent) { times_.app = SinceExec(); }

    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (painted_ || !object->isWidgetType())
            return false;
        auto *widget = static_cast<QWidget *>(object);
        if (!widget->isWindow() || !qobject_cast<QDialog *>(widget))
            return false;
        if (times_.dialog < 0)
            times_.dialog = SinceExec();
        if (event->type() == QEvent::Show && times_.show < 0)
            times_.show = SinceExec();
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
        times_.paint = SinceExec();
        Report(times_);
        fflush(stdout);
        fflush(stderr);
        _exit(0);
    }

    Times times_;
    bool painted_ = false;
};

void Install()
{
    QCoreApplication *application = QCoreApplication::instance();
    application->installEventFilter(new FirstPaint(application));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(Install)
