#include "kvarnixservice.h"

#include "base/clock.h"
#include "base/stoprequest.h"
#include "files/programpaths.h"
#include "monitordb/databaseaccess.h"
#include "monitordb/databaseerror.h"
#include "monitordb/databasefault.h"
#include "monitordb/systemdatabase.h"
#include "schedule/scheduler.h"

#include <QCoreApplication>
#include <QRandomGenerator>

using Priority = CJournalWriter::Priority;

CKvarnixService::CKvarnixService(const CProgramPaths& paths, const CClock& clock)
    : m_paths(paths), m_clock(clock), m_notifier(paths.MonitorDatabase()),
      m_runner(paths, clock, true) {
    m_runner.SetHeartbeat(&m_notifier);
    QObject::connect(&m_runner, &CSchedulerRunner::Launched, &m_runner,
                     [this](const CLaunchReport& report) { OnLaunched(report); });
    QObject::connect(&m_runner, &CSchedulerRunner::SchedulerSwitchChanged, &m_runner,
                     [this](bool on) { OnSchedulerSwitchChanged(on); });
    QObject::connect(&m_runner, &CSchedulerRunner::RunStatesRead, &m_runner,
                     [this](const CRunStates& states) { OnRunStatesRead(states); });
    QObject::connect(&m_runner, &CSchedulerRunner::ProblemAnnounced, &m_runner,
                     [this](const QString& text) { OnProblemAnnounced(text); });
    QObject::connect(&m_runner, &CSchedulerRunner::SettingsReread, &m_runner,
                     [this](bool on) { OnSettingsReread(on); });
}

bool CKvarnixService::Start() {
    if (!PrepareSchedule())
        return false;
    m_runner.Start();
    m_journal.Write(
        Priority::Info,
        QStringLiteral("kvarnixmonitord kör schemat i %1.").arg(m_paths.MonitorDatabase()));
    return true;
}

void CKvarnixService::Stop() {
    m_runner.Stop();
    QCoreApplication::sendPostedEvents(&m_runner, QEvent::MetaCall);
}

void CKvarnixService::Reread() {
    m_journal.Write(Priority::Info, QStringLiteral("SIGHUP: inställningarna läses in på nytt."));
    m_notifier.Reloading();
    m_runner.Reread();
}

// As the window's start: a missing file is created, a held one waited for, and the cyclic
// rows get their first countdowns spread over their intervals.
bool CKvarnixService::PrepareSchedule() {
    CBusyWait wait = StartWait();
    wait.heartbeat = &m_notifier;
    CSystemDatabase db(m_paths.MonitorDatabase(), wait);
    try {
        OpenAtStart(db);
        SeedCountdowns(db);
    } catch (const CDatabaseError& e) {
        // A wait for a held file that a stop ended is no fault.
        if (!ProcessStopRequested()) {
            m_journal.Write(Priority::Error, FaultText(e));
            m_notifier.Failed(FaultText(e));
        }
        return false;
    }
    return true;
}

// A file the service may only read is no reason to end: the scheduler tells the fault, once,
// and goes on once it is mended.
void CKvarnixService::SeedCountdowns(CSystemDatabase& db) {
    try {
        CScheduler::SeedCountdowns(
            db, [] { return int(QRandomGenerator::global()->bounded(32768)); }, m_clock.Now());
    } catch (const CDatabaseError& e) {
        if (ClassifyFault(e) != DatabaseFault::ReadOnly)
            throw;
    }
}

void CKvarnixService::OnLaunched(const CLaunchReport& report) {
    const QString row =
        QStringLiteral("rad %1 (%2   %3)").arg(report.key).arg(report.model, report.macro);
    if (report.started)
        m_journal.Write(Priority::Info,
                        QStringLiteral("Beräkningen för %1 har startats.").arg(row));
    else if (report.attempted)
        m_journal.Write(
            Priority::Warning,
            QStringLiteral("Beräkningen för %1 kunde inte startas: %2").arg(row, report.reason));
    else
        m_journal.Write(
            Priority::Notice,
            QStringLiteral("Beräkningen för %1 startades inte: %2").arg(row, report.reason));
}

QString CKvarnixService::SwitchedOffText() {
    return QStringLiteral("Schemaläggaren är avstängd (DRIFT = 0): inga beräkningar startas. "
                          "Slå på den i monitorns inställningar.");
}

QString CKvarnixService::SwitchedOnText() {
    return QStringLiteral("Schemaläggaren är påslagen (DRIFT = 1): "
                          "raderna startas när deras starttid kommer.");
}

// Switched off nothing starts: worth noticing, though it is no fault.
void CKvarnixService::OnSchedulerSwitchChanged(bool on) {
    m_journal.Write(on ? Priority::Info : Priority::Notice,
                    on ? SwitchedOnText() : SwitchedOffText());
}

// A flag no calculation holds any more is a run lost.
void CKvarnixService::OnRunStatesRead(const CRunStates& states) {
    for (const QString& notice : states.notices)
        m_journal.Write(Priority::Warning, notice);
}

void CKvarnixService::OnProblemAnnounced(const QString& text) {
    m_journal.Write(CProblemReporter::IsSolvedText(text) ? Priority::Notice : Priority::Warning,
                    text);
}

void CKvarnixService::OnSettingsReread(bool schedulerOn) {
    m_journal.Write(Priority::Info, QStringLiteral("Inställningarna är inlästa på nytt: %1")
                                        .arg(schedulerOn ? SwitchedOnText() : SwitchedOffText()));
}
