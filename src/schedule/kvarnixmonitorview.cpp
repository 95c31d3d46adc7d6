#include "kvarnixmonitorview.h"

#include "app/databaseaccess.h"
#include "app/messenger.h"
#include "app/monitorsettings.h"
#include "app/programpaths.h"
#include "monitordb/daoexception.h"
#include "monitordb/systemdatabase.h"
#include "schedule/starttime.h"
#include "ui/dlginmatning.h"
#include "ui/dlgprogramval.h"
#include "ui/dlgvisalogg.h"
#include "ui/filechooser.h"
#include "ui/validctrl.h"

#include <QAction>
#include <QRandomGenerator>
#include <QResizeEvent>
#include <algorithm>
#include <climits>

namespace {

bool IsTicked(int image) {
    return image == 2 || image == 4;
}

} // namespace

CKvarnixMonitorView::CKvarnixMonitorView(CMonitorSettings& settings, const CProgramPaths& paths,
                                         const CClock& clock, CMessenger& messenger,
                                         QWidget* parent)
    : QWidget(parent), m_settings(settings), m_paths(paths), m_clock(clock), m_messenger(messenger),
      m_fileChooser(std::make_unique<CFileDialogChooser>()), m_loginStep([] { return false; }),
      m_list(new CValidCtrl(m_lines, paths, settings, clock, messenger, this)),
      m_runner(paths, clock) {
    m_list->SetFileChooser(*m_fileChooser);
    CreateCommands();
    connect(&m_minimizeTimer, &QTimer::timeout, this, [this] { window()->showMinimized(); });
    connect(&m_runner, &CSchedulerRunner::Launched, this, &CKvarnixMonitorView::OnLaunched);
    connect(&m_runner, &CSchedulerRunner::RunStatesRead, this,
            &CKvarnixMonitorView::OnRunStatesRead);
    connect(&m_runner, &CSchedulerRunner::ProblemChanged, this,
            &CKvarnixMonitorView::OnProblemChanged);
    connect(&m_runner, &CSchedulerRunner::ServiceClaimChanged, this,
            &CKvarnixMonitorView::OnServiceClaimChanged);
}

CKvarnixMonitorView::~CKvarnixMonitorView() = default;

void CKvarnixMonitorView::CreateCommands() {
    m_commands.newRow =
        CreateCommand(32771, QStringLiteral("&Ny Rad\tCtrl+N"),
                      QStringLiteral("Skapa en ny rad\nNy rad"), &CKvarnixMonitorView::OnNewRow);
    // Known to the window itself, so the key works with or without a menu; a menu
    // does not show it twice, as the text already names it after the tab.
    m_commands.newRow->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    addAction(m_commands.newRow);
    m_commands.deleteRow =
        CreateCommand(32773, QStringLiteral("&Ta bort"),
                      QStringLiteral("Tabort den markerade raden\nTa bort markerad raden"),
                      &CKvarnixMonitorView::OnDeleteRow);
    m_commands.changeRow = CreateCommand(32774, QStringLiteral("&Ändra"),
                                         QStringLiteral("Ändra den markerade raden\nÄndra rad"),
                                         &CKvarnixMonitorView::OnChangeRow);
    m_commands.resetRunFlags = CreateCommand(
        32777, QStringLiteral("&Återställ beräkningsflaggor"),
        QStringLiteral("Återställ samtliga beräkningsflaggor\nNollställ beräkningsflaggorna"),
        &CKvarnixMonitorView::OnResetRunFlags);
    m_commands.showMonitorLog =
        CreateCommand(32778, QStringLiteral("&Visa monitorns loggfil"),
                      QStringLiteral("Visar monitorns logfil.\nVisar monitorns loggfil"),
                      &CKvarnixMonitorView::OnShowMonitorLog);
    m_commands.settings =
        CreateCommand(32796, QStringLiteral("&Inställningar"),
                      QStringLiteral("Välj mellan Kvarnix och KvarnixCalk som beräkningsprogram"),
                      &CKvarnixMonitorView::OnSettings);
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CKvarnixMonitorView::UpdateCommandStates);
    connect(&m_lines, &QAbstractItemModel::modelReset, this,
            &CKvarnixMonitorView::UpdateCommandStates);
    connect(&m_lines, &QAbstractItemModel::rowsRemoved, this,
            &CKvarnixMonitorView::UpdateCommandStates);
    UpdateCommandStates();
}

// The prompt holds the status-bar text, a line break, and the tooltip.
QAction* CKvarnixMonitorView::CreateCommand(int id, const QString& text, const QString& prompt,
                                            void (CKvarnixMonitorView::*handler)()) {
    auto* action = new QAction(text, this);
    action->setData(id);
    action->setStatusTip(prompt.section(QLatin1Char('\n'), 0, 0));
    action->setToolTip(prompt.section(QLatin1Char('\n'), 1, 1));
    connect(action, &QAction::triggered, this, handler);
    return action;
}

void CKvarnixMonitorView::UpdateCommandStates() {
    const bool selected = SelectedLine() >= 0;
    m_commands.deleteRow->setEnabled(selected);
    m_commands.changeRow->setEnabled(selected);
}

int CKvarnixMonitorView::SelectedLine() const {
    const QModelIndexList rows = m_list->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void CKvarnixMonitorView::SetFileChooser(std::unique_ptr<CFileChooser> chooser) {
    m_fileChooser = std::move(chooser);
    m_list->SetFileChooser(*m_fileChooser);
}

bool CKvarnixMonitorView::InitialUpdate() {
    CSystemDatabase db(m_paths.MonitorDatabase(), StartWait());
    if (!OpenAtStart(db, m_messenger))
        return false;
    try {
        m_settings = CMonitorSettings::Load(db);
        db.SeedCyclicCounters([] { return int(QRandomGenerator::global()->bounded(32768)); });
        m_lines.SetRows(db.LoadAllRows());
        ShowStoredRunStates(db);
    } catch (const CDaoException& e) {
        db.Close();
        m_messenger.ShowMessage(DescribeFault(ClassifyFault(e), db.Path(), e.ErrorText()));
        return false;
    }
    const QString loadProblem = db.LastError();
    db.Close();
    if (!loadProblem.isEmpty())
        m_messenger.ShowMessage(loadProblem);
    m_list->SetOwnerView(this);
    window()->installEventFilter(this);
    m_runner.SetSettings(m_settings);
    m_runner.Start();
    UpdateMinimizeTimer();
    return true;
}

void CKvarnixMonitorView::ShowStoredRunStates(CSystemDatabase& db) {
    const QHash<int, bool> flags = db.RunFlags(m_lines.Keys());
    const QHash<int, qint64> calcTimes = db.StoredTimes(0);
    const QHash<int, qint64> mesTimes = db.StoredTimes(1);
    QHash<int, CRunState> states;
    for (int key : m_lines.Keys()) {
        const int line = m_lines.LineOfKey(key);
        states.insert(key, {flags.value(key), m_lines.Line(line).stale, calcTimes.value(key),
                            mesTimes.value(key)});
    }
    m_lines.ApplyRunStates(states);
}

// The refresh rests while the window is minimised and catches up once it is shown again.
bool CKvarnixMonitorView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window() && event->type() == QEvent::WindowStateChange) {
        const bool minimised = window()->isMinimized();
        m_runner.SetRefreshSuspended(minimised);
        if (!minimised)
            m_runner.RefreshSoon();
    }
    return QWidget::eventFilter(watched, event);
}

// A start refused before it was tried ("Kör nu" on a row that runs) marks no line.
void CKvarnixMonitorView::OnLaunched(const CLaunchReport& report) {
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

void CKvarnixMonitorView::OnRunStatesRead(const CRunStates& states) {
    if (states.reloadedRows)
        m_lines.SetRows(*states.reloadedRows);
    m_lines.ApplyRunStates(states.byKey);
}

void CKvarnixMonitorView::OnProblemChanged(const QString& text) {
    m_problem = text;
    emit StatusTextChanged(StatusText());
}

void CKvarnixMonitorView::OnServiceClaimChanged(const QString& host) {
    m_serviceNote =
        host.isEmpty() ? QString() : QStringLiteral("Schemaläggs av tjänsten på %1").arg(host);
    emit StatusTextChanged(StatusText());
}

// A problem before a failed start, and either before the note that a service schedules.
QString CKvarnixMonitorView::StatusText() const {
    for (const QString* text : {&m_problem, &m_launchProblem, &m_serviceNote}) {
        if (!text->isEmpty())
            return *text;
    }
    return {};
}

void CKvarnixMonitorView::RunLineNow(int line) {
    const CScheduleLine& row = m_lines.Line(line);
    const int key = row.key;
    const QString model = row.model;
    {
        CSystemDatabase db(m_paths.MonitorDatabase(), CommandWait());
        if (!OpenForCommand(db, m_messenger))
            return;
        if (db.IsRunFlagSet(key)) {
            db.Close();
            m_messenger.ShowMessage(
                QStringLiteral("Beräkningen för %1 körs redan och kan inte startas nu.")
                    .arg(model));
            return;
        }
    }
    if (m_messenger.AskYesNo(QStringLiteral("Vill du starta beräkningen för %1 nu?").arg(model)))
        m_runner.RunNow(key);
}

// Started anew, so the first minimising comes one full period from now.
void CKvarnixMonitorView::UpdateMinimizeTimer() {
    // A period beyond the timer's range (some 24 days) is the longest it can wait.
    const qint64 periodMs = qint64(m_settings.hideMinuter) * 60000;
    if (m_settings.hide != 0)
        m_minimizeTimer.start(int(std::clamp<qint64>(periodMs, 60000, INT_MAX)));
    else
        m_minimizeTimer.stop();
}

void CKvarnixMonitorView::OnNewRow() {
    CDlgInmatning dialog(-1, m_paths.MonitorDatabase(), m_messenger, *m_fileChooser, m_clock, this);
    if (dialog.Run() != CDlgInmatning::ResultOk)
        return;
    CScheduleLine line;
    line.startTime = StartTime::DisplayForm(dialog.Tid());
    line.model = dialog.Model();
    line.macro = dialog.Macro();
    m_lines.AppendLine(line);
    const int row = m_lines.LineCount() - 1;

    CSystemDatabase db(m_paths.MonitorDatabase(), CommandWait());
    if (!OpenForCommand(db, m_messenger)) {
        m_lines.RemoveLine(row);
        return;
    }
    const int key = db.SaveRow(line.startTime, line.model, line.macro, line.key,
                               IsTicked(line.stateImage) ? 1 : 0);
    db.Close();
    // A row that could not be stored must not stay in the list as if it were.
    if (key < 0) {
        m_lines.RemoveLine(row);
        m_messenger.ShowMessage(db.LastError());
    } else {
        m_lines.SetKey(row, key);
    }
}

void CKvarnixMonitorView::OnChangeRow() {
    const int line = SelectedLine();
    if (line >= 0)
        m_list->ChangeLine(line);
}

void CKvarnixMonitorView::OnDeleteRow() {
    const int line = SelectedLine();
    if (line >= 0)
        m_list->DeleteLine(line);
}

void CKvarnixMonitorView::OnResetRunFlags() {
    CSystemDatabase db(m_paths.MonitorDatabase(), CommandWait());
    if (!OpenForCommand(db, m_messenger))
        return;
    const bool reset = db.ResetRunFlags(m_lines.Keys());
    try {
        ShowStoredRunStates(db);
    } catch (const CDaoException&) {
        // The next refresh shows them.
    }
    db.Close();
    if (!reset)
        m_messenger.ShowMessage(db.LastError());
}

void CKvarnixMonitorView::OnShowMonitorLog() {
    ShowLog(m_paths.MonitorLog());
}

// The dialog also takes SAVE and DRIFT from the file when it opens, so the
// scheduler gets the settings however it closes.
void CKvarnixMonitorView::OnSettings() {
    CDlgProgramVal dialog(m_settings, m_paths.MonitorDatabase(), m_messenger, *m_fileChooser,
                          m_loginStep, this);
    const int result = dialog.Run();
    m_runner.SetSettings(m_settings);
    if (result == CDlgProgramVal::ResultOk)
        UpdateMinimizeTimer();
}

void CKvarnixMonitorView::OnStateImageChanged(int image, int line) {
    CSystemDatabase db(m_paths.MonitorDatabase(), CommandWait());
    if (!OpenForCommand(db, m_messenger))
        return;
    if (!db.SetImplemented(IsTicked(image) ? 1 : 0, m_lines.Line(line).key)) {
        db.Close();
        m_messenger.ShowMessage(db.LastError());
    }
}

void CKvarnixMonitorView::OnShowModelLog(int line) {
    ShowLog(m_lines.Line(line).model + QStringLiteral(".log"));
}

void CKvarnixMonitorView::ShowLog(const QString& path) {
    CDlgVisaLogg viewer(path, m_messenger, this);
    viewer.Run();
}

// The list keeps a 13-pixel margin at the left, top and bottom and 23 at the right.
void CKvarnixMonitorView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const QSize size = event->size();
    m_list->setGeometry(13, 13, size.width() - 13 - 23, size.height() - 13 - 13);
}
