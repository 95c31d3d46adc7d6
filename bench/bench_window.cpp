// The window while its scheduler works, offscreen, in process: how late a due row starts while
// a modal dialog is open, and how long the window's event loop is blocked in a minute in which
// 2,000 rows start. Prints one figure a line as "name value".
#include "base/stderrmessenger.h"
#include "loopblockmeter.h"
#include "monitorfolder.h"

#include "base/clock.h"
#include "commands/schedulecommands.h"
#include "dialogs/dlgkorhistorik.h"
#include "files/programpaths.h"
#include "history/runhistorymodel.h"
#include "mainwindow/mainframe.h"
#include "mainwindow/mainview.h"
#include "monitordb/sqlitetransaction.h"
#include "monitordb/systemdatabase.h"
#include "settings/monitorsettings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <optional>

namespace {

constexpr int kBatchRows = 2000;
constexpr int kLongestWaitMs = 120000;

// The real clock moved so that the next minute begins a moment after it is made.
class CShiftedClock : public CClock {
public:
    CShiftedClock() {
        const QDateTime now = QDateTime::currentDateTime();
        const QTime t = now.time();
        m_offsetMs = (58 - t.second()) * 1000 - t.msec();
    }
    QDateTime Now() const override { return QDateTime::currentDateTime().addMSecs(m_offsetMs); }

private:
    qint64 m_offsetMs = 0;
};

// A monitor folder whose every row is due every minute; /bin/true calculates.
class CWindowFolder {
public:
    explicit CWindowFolder(int rowCount)
        : m_paths(m_dir.filePath(QStringLiteral("kvarnixmonitor"))) {
        CSystemDatabase db(m_paths.MonitorDatabase());
        db.OpenOrCreate();
        m_prepared = true;
        CSqliteTransaction transaction(db.Connection());
        db.SaveRow(QStringLiteral("- - - -"), QStringLiteral("/bin/true"),
                   QStringLiteral("- - - -"), 0, 0);
        db.SetSetting(QStringLiteral("DRIFT"), 1);
        for (int row = 0; row < rowCount; ++row)
            db.SaveRow(QStringLiteral("XXXX-XX-XX XX:XX"), QStringLiteral("/m/rad%1").arg(row),
                       QStringLiteral("Makro"), -1, 1);
        transaction.Commit();
    }
    bool IsPrepared() const { return m_prepared; }
    const CProgramPaths& Paths() const { return m_paths; }

private:
    QTemporaryDir m_dir;
    CProgramPaths m_paths;
    bool m_prepared = false;
};

// A window over the folder, shown and started.
struct CWindow {
    CWindow(const CWindowFolder& folder, const CClock& clock)
        : frame(settings, folder.Paths(), clock, messenger) {
        frame.show();
        started = frame.View()->InitialUpdate();
    }
    CStderrMessenger messenger;
    CMonitorSettings settings;
    CMainFrame frame;
    bool started = false;
};

bool WaitFor(const std::function<bool()>& condition) {
    QElapsedTimer waited;
    waited.start();
    while (!condition() && waited.elapsed() < kLongestWaitMs)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    return condition();
}

// The first start comes at once; the second at the next minute, while a message box waits
// for the operator.
std::optional<qint64> ModalLaunchDelayMs() {
    const CWindowFolder folder(1);
    const CShiftedClock clock;
    if (!folder.IsPrepared())
        return std::nullopt;
    CWindow window(folder, clock);
    int launches = 0;
    QDateTime secondLaunch;
    QObject::connect(&window.frame.View()->Runner(), &CSchedulerRunner::Launched, [&] {
        if (++launches == 2)
            secondLaunch = clock.Now();
    });
    if (!window.started || !WaitFor([&] { return launches == 1; }))
        return std::nullopt;
    QMessageBox box(QMessageBox::Information, QStringLiteral("KvarnixMonitor"),
                    QStringLiteral("Väntar"));
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (launches >= 2)
            box.close();
    });
    closer.start(10);
    QTimer::singleShot(kLongestWaitMs, &box, &QMessageBox::close);
    box.exec();
    if (!secondLaunch.isValid())
        return std::nullopt;
    const QTime t = secondLaunch.time();
    return qint64(t.second()) * 1000 + t.msec() + (t.second() > 30 ? -60000 : 0);
}

// How long the event loop was blocked at the most while the rows start.
std::optional<qint64> BatchLoopBlockMs() {
    const CWindowFolder folder(kBatchRows);
    const CSystemClock clock;
    if (!folder.IsPrepared())
        return std::nullopt;
    CWindow window(folder, clock);
    int launches = 0;
    QObject::connect(&window.frame.View()->Runner(), &CSchedulerRunner::Launched,
                     [&] { ++launches; });
    const CLoopBlockMeter loopBlock;
    if (!window.started || !WaitFor([&] { return launches >= kBatchRows; }))
        return std::nullopt;
    return loopBlock.LongestMs();
}

// From the command to the history dialog shown, for a row with 100,000 runs.
std::optional<qint64> HistoryDialogMs() {
    constexpr int kRuns = 100000;
    const CWindowFolder folder(1);
    if (!folder.IsPrepared() || !FillRunHistory(folder.Paths().MonitorDatabase(), kRuns))
        return std::nullopt;
    CStderrMessenger messenger;
    QElapsedTimer opening;
    opening.start();
    const CScheduleCommands schedule(folder.Paths().MonitorDatabase());
    CDlgKorhistorik dialog(schedule, 1, QStringLiteral("/m/rad0"), messenger);
    qint64 shownMs = -1;
    QTimer::singleShot(0, &dialog, [&] {
        shownMs = opening.elapsed();
        dialog.reject();
    });
    dialog.Run();
    if (shownMs < 0 || dialog.Runs().rowCount() == 0)
        return std::nullopt;
    return shownMs;
}

void Print(const char* name, std::optional<qint64> value) {
    if (value)
        std::printf("%s %lld\n", name, static_cast<long long>(*value));
    else
        PrintError(QStringLiteral("%1 kunde inte mätas.").arg(QLatin1String(name)));
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    Print("modal_launch_delay_ms", ModalLaunchDelayMs());
    Print("batch_loop_block_ms", BatchLoopBlockMs());
    Print("history_dialog_ms", HistoryDialogMs());
    return 0;
}
