#include "mainwindow/mainview.h"

#include "base/clock.h"
#include "base/messenger.h"
#include "base/stoprequest.h"
#include "dialogs/dlginformation.h"
#include "dialogs/dlginmatning.h"
#include "dialogs/dlgkorhistorik.h"
#include "dialogs/dlgprogramval.h"
#include "dialogs/dlgvisalogg.h"
#include "dialogs/filechooser.h"
#include "files/programpaths.h"
#include "monitordb/databaseerror.h"
#include "monitordb/databasefault.h"
#include "rules/starttime.h"

#include <QAction>
#include <QProcess>
#include <QRandomGenerator>
#include <QResizeEvent>
#include <algorithm>
#include <climits>

CMainView::CMainView(CMonitorSettings& settings, const CProgramPaths& paths, const CClock& clock,
                     CMessenger& messenger, QWidget* parent)
    : QWidget(parent), m_settings(settings), m_paths(paths), m_clock(clock), m_messenger(messenger),
      m_schedule(paths.MonitorDatabase()), m_fileChooser(std::make_unique<CFileDialogChooser>()),
      m_loginStep([] { return false; }), m_list(new CScheduleListView(m_lines, this)),
      m_runner(paths, clock, false) {
    CreateCommands();
    connect(&m_minimizeTimer, &QTimer::timeout, this, [this] { window()->showMinimized(); });
    connect(&m_runner, &CSchedulerRunner::Launched, this, &CMainView::OnLaunched);
    connect(&m_runner, &CSchedulerRunner::RunStatesRead, this, &CMainView::OnRunStatesRead);
    connect(&m_runner, &CSchedulerRunner::ProblemChanged, this, &CMainView::OnProblemChanged);
    connect(&m_runner, &CSchedulerRunner::ServiceClaimChanged, this,
            &CMainView::OnServiceClaimChanged);
}

CMainView::~CMainView() = default;

void CMainView::CreateCommands() {
    m_commands.newRow =
        CreateCommand(32771, QStringLiteral("&Ny Rad\tCtrl+N"),
                      QStringLiteral("Skapa en ny rad\nNy rad"), &CMainView::OnNewRow);
    // Known to the window itself, so the key works with or without a menu; a menu
    // does not show it twice, as the text already names it after the tab.
    m_commands.newRow->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    addAction(m_commands.newRow);
    m_commands.deleteRow =
        CreateCommand(32773, QStringLiteral("&Ta bort"),
                      QStringLiteral("Ta bort den markerade raden\nTa bort markerad raden"),
                      &CMainView::OnDeleteRow);
    m_commands.changeRow = CreateCommand(32774, QStringLiteral("&Ändra"),
                                         QStringLiteral("Ändra den markerade raden\nÄndra rad"),
                                         &CMainView::OnChangeRow);
    m_commands.resetRunFlags = CreateCommand(
        32777, QStringLiteral("&Återställ beräkningsflaggor"),
        QStringLiteral("Återställ samtliga beräkningsflaggor\nNollställ beräkningsflaggorna"),
        &CMainView::OnResetRunFlags);
    m_commands.showMonitorLog =
        CreateCommand(32778, QStringLiteral("&Visa monitorns loggfil"),
                      QStringLiteral("Visar monitorns logfil.\nVisar monitorns loggfil"),
                      &CMainView::OnShowMonitorLog);
    m_commands.settings =
        CreateCommand(32796, QStringLiteral("&Inställningar"),
                      QStringLiteral("Välj mellan Kvarnix och KvarnixCalk som beräkningsprogram"),
                      &CMainView::OnSettings);
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CMainView::UpdateCommandStates);
    connect(&m_lines, &QAbstractItemModel::modelReset, this, &CMainView::UpdateCommandStates);
    connect(&m_lines, &QAbstractItemModel::rowsRemoved, this, &CMainView::UpdateCommandStates);
    UpdateCommandStates();
}

// The prompt holds the status-bar text, a line break, and the tooltip.
QAction* CMainView::CreateCommand(int id, const QString& text, const QString& prompt,
                                  void (CMainView::*handler)()) {
    auto* action = new QAction(text, this);
    action->setData(id);
    action->setStatusTip(prompt.section(QLatin1Char('\n'), 0, 0));
    action->setToolTip(prompt.section(QLatin1Char('\n'), 1, 1));
    connect(action, &QAction::triggered, this, handler);
    return action;
}

void CMainView::UpdateCommandStates() {
    const bool selected = SelectedLine() >= 0;
    m_commands.deleteRow->setEnabled(selected);
    m_commands.changeRow->setEnabled(selected);
}

int CMainView::SelectedLine() const {
    const QModelIndexList rows = m_list->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void CMainView::SetFileChooser(std::unique_ptr<CFileChooser> chooser) {
    m_fileChooser = std::move(chooser);
}

bool CMainView::InitialUpdate() {
    CScheduleAtStart start;
    try {
        start = m_schedule.LoadAtStart(
            [] { return int(QRandomGenerator::global()->bounded(32768)); }, m_clock.Now());
    } catch (const CDatabaseError& e) {
        // A wait for a held file that a stop ended is no fault.
        if (!ProcessStopRequested())
            ShowFault(e);
        return false;
    }
    m_settings = start.settings;
    m_lines.SetRows(start.rows);
    m_lines.ApplyRunStates(start.states);
    // The list tells the view what the operator chose once it shows the schedule.
    connect(m_list, &CScheduleListView::ActiveChosen, this, &CMainView::OnActiveChosen);
    connect(m_list, &CScheduleListView::CommandChosen, this, &CMainView::OnLineCommand);
    window()->installEventFilter(this);
    m_runner.Start();
    UpdateMinimizeTimer();
    return true;
}

void CMainView::ShowFault(const CDatabaseError& error, const QString& whatFailed) {
    m_messenger.ShowMessage(FaultText(error, whatFailed));
}

// The stale marks are the refresh's to set: a command's read keeps them.
void CMainView::RefreshRunStates() {
    QHash<int, CRunState> states;
    try {
        states = m_schedule.RunStates(m_lines.Keys());
    } catch (const CDatabaseError&) {
        // The next refresh shows them.
        return;
    }
    for (auto state = states.begin(); state != states.end(); ++state)
        state->stale = m_lines.Line(m_lines.LineOfKey(state.key())).stale;
    m_lines.ApplyRunStates(states);
}

// The refresh rests while the window is minimised and catches up once it is shown again.
bool CMainView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window() && event->type() == QEvent::WindowStateChange) {
        const bool minimised = window()->isMinimized();
        m_runner.SetRefreshSuspended(minimised);
        if (!minimised)
            m_runner.RefreshSoon();
    }
    return QWidget::eventFilter(watched, event);
}

// A start refused before it was tried ("Kör nu" on a row that runs) marks no line.
void CMainView::OnLaunched(const CLaunchReport& report) {
    if (!report.attempted) {
        m_launchProblem = QStringLiteral("Beräkningen för %1 startades inte: %2")
                              .arg(report.model, report.reason);
    } else {
        m_lines.SetLaunchFailure(report.key, report.started ? QString() : report.reason);
        m_launchProblem = report.started
                              ? QString()
                              : QStringLiteral("Beräkningen för %1 kunde inte startas: %2")
                                    .arg(report.model, report.reason);
    }
    emit StatusTextChanged(StatusText());
}

void CMainView::OnRunStatesRead(const CRunStates& states) {
    if (states.reloadedRows)
        m_lines.SetRows(*states.reloadedRows);
    m_lines.ApplyRunStates(states.byKey);
    if (states.settings)
        ShowStoredSettings(*states.settings);
}

// Another window or a service may change the settings; what this one shows follows the file.
void CMainView::ShowStoredSettings(const CMonitorSettings& stored) {
    const bool minimizingChanged = stored.minimizePeriodically != m_settings.minimizePeriodically ||
                                   stored.minimizeMinutes != m_settings.minimizeMinutes;
    const bool shownChanged = stored.schedulerOn != m_settings.schedulerOn ||
                              stored.mayWriteIp21 != m_settings.mayWriteIp21 ||
                              stored.programPath != m_settings.programPath;
    m_settings = stored;
    if (minimizingChanged)
        UpdateMinimizeTimer();
    if (shownChanged)
        emit SettingsChanged();
}

void CMainView::OnProblemChanged(const QString& text) {
    m_problem = text;
    emit StatusTextChanged(StatusText());
}

void CMainView::OnServiceClaimChanged(const QString& host) {
    m_serviceNote =
        host.isEmpty() ? QString() : QStringLiteral("Schemaläggs av tjänsten på %1").arg(host);
    emit StatusTextChanged(StatusText());
}

// A problem before a failed start, and either before the note that a service schedules.
QString CMainView::StatusText() const {
    for (const QString* text : {&m_problem, &m_launchProblem, &m_serviceNote}) {
        if (!text->isEmpty())
            return *text;
    }
    return {};
}

// Started anew, so the first minimising comes one full period from now.
void CMainView::UpdateMinimizeTimer() {
    // A period beyond the timer's range (some 24 days) is the longest it can wait.
    const qint64 periodMs = qint64(m_settings.minimizeMinutes) * 60000;
    if (m_settings.minimizePeriodically != 0)
        m_minimizeTimer.start(int(std::clamp<qint64>(periodMs, 60000, INT_MAX)));
    else
        m_minimizeTimer.stop();
}

// The row is stored before it shows: a row that could not be stored must not stand in the
// list as if it were.
void CMainView::OnNewRow() {
    CDlgInmatning dialog(-1, m_schedule, m_messenger, *m_fileChooser, m_clock, this);
    if (dialog.Run() != CDlgInmatning::ResultOk)
        return;
    CScheduleRow row;
    row.startTime = StartTime::DisplayForm(dialog.Tid());
    row.model = dialog.Model();
    row.macro = dialog.Macro();
    try {
        row.key = m_schedule.SaveRow(row);
        m_schedule.SetTimeLimit(row.key, dialog.TimeLimit());
    } catch (const CDatabaseError& e) {
        ShowFault(e, QStringLiteral("Kan inte spara raden"));
        return;
    }
    CScheduleLine line;
    line.key = row.key;
    line.startTime = row.startTime;
    line.model = row.model;
    line.macro = row.macro;
    m_lines.AppendLine(line);
}

void CMainView::OnChangeRow() {
    const int line = SelectedLine();
    if (line >= 0)
        ChangeLine(line);
}

void CMainView::OnDeleteRow() {
    const int line = SelectedLine();
    if (line >= 0)
        DeleteLine(line);
}

void CMainView::OnResetRunFlags() {
    try {
        m_schedule.ResetRunFlags(m_lines.Keys());
    } catch (const CDatabaseError& e) {
        ShowFault(e, QStringLiteral("Det gick inte att återställa runflaggan"));
    }
    RefreshRunStates();
}

void CMainView::OnShowMonitorLog() {
    ShowLog(m_paths.MonitorLog(), CDlgVisaLogg::LogKind::MonitorLog);
}

void CMainView::OnSettings() {
    CDlgProgramVal dialog(m_settings, m_schedule, m_messenger, *m_fileChooser, m_loginStep, this);
    if (dialog.Run() == CDlgProgramVal::ResultOk)
        UpdateMinimizeTimer();
}

void CMainView::OnActiveChosen(int line, StateImage image) {
    try {
        m_schedule.SetActive(m_lines.Line(line).key, StateImages::IsTicked(image));
    } catch (const CDatabaseError& e) {
        ShowFault(e, QStringLiteral("Radens aktiveringsläge kunde inte sparas."));
    }
}

void CMainView::OnLineCommand(LineCommand command, int line) {
    switch (command) {
    case LineCommand::ResetRunFlag:
        return ResetRunFlag(line);
    case LineCommand::Change:
        return ChangeLine(line);
    case LineCommand::Delete:
        return DeleteLine(line);
    case LineCommand::ShowModelLog:
        return ShowModelLog(line);
    case LineCommand::OpenModel:
        return OpenModel(line);
    case LineCommand::Information:
        return ShowInformation(line);
    case LineCommand::RunNow:
        return RunLineNow(line);
    case LineCommand::RunHistory:
        return ShowRunHistory(line);
    case LineCommand::CancelRun:
        return CancelRun(line);
    }
}

void CMainView::ResetRunFlag(int line) {
    try {
        m_schedule.ResetRunFlags({m_lines.Line(line).key});
    } catch (const CDatabaseError& e) {
        ShowFault(e, QStringLiteral("Det gick inte att återställa runflaggan"));
    }
    RefreshRunStates();
}

// The list may be read anew while the dialog is open, so the row is found by its key afterwards.
void CMainView::ChangeLine(int line) {
    const int key = m_lines.Line(line).key;
    CDlgInmatning dialog(key, m_schedule, m_messenger, *m_fileChooser, m_clock, this);
    const int result = dialog.Run();
    if (result == CDlgInmatning::ResultDeleteRow) {
        DeleteRow(key);
        return;
    }
    if (result != CDlgInmatning::ResultOk)
        return;
    CScheduleRow row;
    row.key = key;
    row.startTime = dialog.Tid();
    row.model = dialog.Model();
    row.macro = dialog.Macro();
    row.implemented = dialog.Implemented();
    try {
        m_schedule.SaveRow(row);
        m_schedule.SetTimeLimit(key, dialog.TimeLimit());
    } catch (const CDatabaseError& e) {
        ShowFault(e, QStringLiteral("Kan inte spara raden"));
    }
    ReloadRows();
}

void CMainView::ReloadRows() {
    try {
        m_lines.SetRows(m_schedule.LoadRows());
    } catch (const CDatabaseError& e) {
        ShowFault(e, QStringLiteral("Schemat kunde inte läsas in på nytt."));
        return;
    }
    RefreshRunStates();
}

void CMainView::DeleteLine(int line) {
    const int key = m_lines.Line(line).key;
    if (m_messenger.AskYesNo(QStringLiteral("Raden kommer att tas bort. Vill du detta?")))
        DeleteRow(key);
}

// A row that is gone from the file is gone from the list; one that stays stays. Left to
// itself the list would select the next line, one the operator never picked, and keep
// the commands on a selected line enabled for it.
void CMainView::DeleteRow(int key) {
    try {
        m_schedule.DeleteRow(key);
    } catch (const CDatabaseError& e) {
        ShowFault(e, QStringLiteral("Raden kunde inte tas bort."));
        return;
    }
    const int line = m_lines.LineOfKey(key);
    if (line < 0)
        return;
    m_lines.RemoveLine(line);
    m_list->selectionModel()->clear();
}

void CMainView::ShowModelLog(int line) {
    ShowLog(m_lines.Line(line).model + QStringLiteral(".log"), CDlgVisaLogg::LogKind::ModelLog);
}

// The model file is handed over as one argument, blanks and all.
void CMainView::OpenModel(int line) {
    QProcess::startDetached(m_settings.programPath,
                            {m_lines.Line(line).model + QStringLiteral(".vxm")});
}

void CMainView::ShowInformation(int line) {
    CDlgInformation dialog(this);
    try {
        dialog.SetInformation(
            m_schedule.RowInformation(m_lines.Line(line), m_settings.programPath, m_clock.Now()));
    } catch (const CDatabaseError& e) {
        ShowFault(e, QStringLiteral("Informationen om raden kunde inte läsas."));
        return;
    }
    dialog.exec();
}

// Refused at once while the row's calculation runs; otherwise asked, then started on the
// scheduler's thread, which checks the flag again.
void CMainView::RunLineNow(int line) {
    const CScheduleLine& row = m_lines.Line(line);
    const int key = row.key;
    const QString model = row.model;
    try {
        if (m_schedule.IsRunning(key)) {
            m_messenger.ShowMessage(
                QStringLiteral("Beräkningen för %1 körs redan och kan inte startas nu.")
                    .arg(model));
            return;
        }
    } catch (const CDatabaseError& e) {
        ShowFault(e);
        return;
    }
    if (m_messenger.AskYesNo(QStringLiteral("Vill du starta beräkningen för %1 nu?").arg(model)))
        m_runner.RunNow(key);
}

// The request is stored with the run; its supervisor, on whichever host, stops the
// calculation within a few seconds and records who asked.
void CMainView::CancelRun(int line) {
    const CScheduleLine& row = m_lines.Line(line);
    const int key = row.key;
    if (!m_messenger.AskYesNo(
            QStringLiteral("Vill du avbryta den pågående körningen av %1?").arg(row.model)))
        return;
    try {
        if (!m_schedule.RequestCancel(key, CScheduleCommands::Requester()))
            m_messenger.ShowMessage(QStringLiteral("Körningen av %1 har redan avslutats eller "
                                                   "ombetts att avbrytas.")
                                        .arg(row.model));
    } catch (const CDatabaseError& e) {
        ShowFault(e, QStringLiteral("Körningen kunde inte avbrytas."));
    }
    RefreshRunStates();
}

void CMainView::ShowRunHistory(int line) {
    const CScheduleLine& row = m_lines.Line(line);
    CDlgKorhistorik dialog(m_schedule, row.key, row.model, m_messenger, this);
    dialog.Run();
}

void CMainView::ShowLog(const QString& path, CDlgVisaLogg::LogKind kind) {
    CDlgVisaLogg viewer(path, kind, m_messenger, this);
    viewer.Run();
}

// The list keeps a 13-pixel margin at the left, top and bottom and 23 at the right.
void CMainView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const QSize size = event->size();
    m_list->setGeometry(13, 13, size.width() - 13 - 23, size.height() - 13 - 13);
}
