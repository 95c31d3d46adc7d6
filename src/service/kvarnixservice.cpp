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

CKvarnixService::CKvarnixService(const CProgramPaths& paths, const CClock& clock)
    : m_paths(paths), m_clock(clock), m_runner(paths, clock, true) {
    QObject::connect(&m_runner, &CSchedulerRunner::Launched, &m_runner,
                     [this](const CLaunchReport& report) { OnLaunched(report); });
    QObject::connect(&m_runner, &CSchedulerRunner::SchedulerSwitchChanged, &m_runner,
                     [this](bool on) { OnSchedulerSwitchChanged(on); });
    QObject::connect(&m_runner, &CSchedulerRunner::RunStatesRead, &m_runner,
                     [this](const CRunStates& states) { OnRunStatesRead(states); });
    QObject::connect(&m_runner, &CSchedulerRunner::ProblemAnnounced, &m_runner,
                     [this](const QString& problem) { m_messenger.ShowMessage(problem); });
}

bool CKvarnixService::Start() {
    if (!PrepareSchedule())
        return false;
    m_runner.Start();
    m_messenger.ShowMessage(
        QStringLiteral("kvarnixmonitord kör schemat i %1.").arg(m_paths.MonitorDatabase()));
    return true;
}

void CKvarnixService::Stop() {
    m_runner.Stop();
    QCoreApplication::sendPostedEvents(&m_runner, QEvent::MetaCall);
}

// As the window's start: a missing file is created, a held one waited for, and the cyclic
// rows get their first countdowns spread over their intervals.
bool CKvarnixService::PrepareSchedule() {
    CSystemDatabase db(m_paths.MonitorDatabase(), StartWait());
    try {
        OpenAtStart(db);
        SeedCountdowns(db);
    } catch (const CDatabaseError& e) {
        // A wait for a held file that a stop ended is no fault.
        if (!ProcessStopRequested())
            m_messenger.ShowMessage(FaultText(e));
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
        m_messenger.ShowMessage(QStringLiteral("Beräkningen för %1 har startats.").arg(row));
    else if (report.attempted)
        m_messenger.ShowMessage(
            QStringLiteral("Beräkningen för %1 kunde inte startas: %2").arg(row, report.reason));
    else
        m_messenger.ShowMessage(
            QStringLiteral("Beräkningen för %1 startades inte: %2").arg(row, report.reason));
}

QString CKvarnixService::SwitchedOffText() {
    return QStringLiteral("Schemaläggaren är avstängd (DRIFT = 0): inga beräkningar startas. "
                          "Slå på den i monitorns inställningar.");
}

void CKvarnixService::OnSchedulerSwitchChanged(bool on) {
    m_messenger.ShowMessage(on ? QStringLiteral("Schemaläggaren är påslagen (DRIFT = 1): "
                                                "raderna startas när deras starttid kommer.")
                               : SwitchedOffText());
}

void CKvarnixService::OnRunStatesRead(const CRunStates& states) {
    for (const QString& notice : states.notices)
        m_messenger.ShowMessage(notice);
}
