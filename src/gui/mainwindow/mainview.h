#pragma once

#include "commands/schedulecommands.h"
#include "dialogs/dlgvisalogg.h"
#include "schedule/schedulemodel.h"
#include "schedule/schedulerrunner.h"
#include "schedulelist/schedulelistview.h"

#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

class CClock;
class CDatabaseError;
class CFileChooser;
class CMessenger;
class QAction;

// The main view: the schedule list, kept sized to the window, the scheduler that runs
// beside it, and the commands of the main menu and of the list's context menu. The
// commands go to the stored schedule through CScheduleCommands; the view shows their
// outcome and asks the operator what it needs to.
class CMainView : public QWidget {
    Q_OBJECT
public:
    // The commands, for the frame's menus and toolbar.
    struct Commands {
        QAction* newRow;
        QAction* deleteRow;
        QAction* changeRow;
        QAction* resetRunFlags;
        QAction* showMonitorLog;
        QAction* settings;
    };

    CMainView(CMonitorSettings& settings, const CProgramPaths& paths, const CClock& clock,
              CMessenger& messenger, QWidget* parent = nullptr);
    ~CMainView() override;

    // Loads the settings and the schedule and starts the scheduler; false when
    // the monitor database cannot be opened (the operator has been told why).
    bool InitialUpdate();

    const Commands& MenuCommands() const { return m_commands; }
    void SetFileChooser(std::unique_ptr<CFileChooser> chooser);
    // The login that the settings dialog runs when the login check is switched on.
    void SetLoginStep(std::function<bool()> loginStep) { m_loginStep = std::move(loginStep); }

    CScheduleListView* List() const { return m_list; }
    CScheduleModel& Lines() { return m_lines; }
    CSchedulerRunner& Runner() { return m_runner; }
    const QTimer& MinimizeTimer() const { return m_minimizeTimer; }
    // What the status bar's first pane shows when no prompt does: the problem
    // the operator should know of, or empty for the idle text.
    QString StatusText() const;

    // Reads every line's run flag and times anew and shows them.
    void RefreshRunStates();

signals:
    void StatusTextChanged(const QString& text);
    // The settings the window shows changed in the file.
    void SettingsChanged();

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateCommands();
    QAction* CreateCommand(int id, const QString& text, const QString& prompt,
                           void (CMainView::*handler)());
    void UpdateCommandStates();
    int SelectedLine() const;
    void UpdateMinimizeTimer();

    // The main menu's commands.
    void OnNewRow();
    void OnChangeRow();
    void OnDeleteRow();
    void OnResetRunFlags();
    void OnShowMonitorLog();
    void OnSettings();

    // The list's.
    void OnActiveChosen(int line, StateImage image);
    void OnLineCommand(LineCommand command, int line);
    void ResetRunFlag(int line);
    void ChangeLine(int line);
    void DeleteLine(int line);
    void DeleteRow(int key);
    void ShowModelLog(int line);
    void OpenModel(int line);
    void ShowInformation(int line);
    void RunLineNow(int line);
    void CancelRun(int line);
    void ShowRunHistory(int line);

    void ShowLog(const QString& path, CDlgVisaLogg::LogKind kind);
    void ReloadRows();
    void ShowFault(const CDatabaseError& error, const QString& whatFailed = {});

    void OnLaunched(const CLaunchReport& report);
    void OnRunStatesRead(const CRunStates& states);
    void ShowStoredSettings(const CMonitorSettings& stored);
    void OnProblemChanged(const QString& text);
    void OnServiceClaimChanged(const QString& host);

    CMonitorSettings& m_settings;
    const CProgramPaths& m_paths;
    const CClock& m_clock;
    CMessenger& m_messenger;
    const CScheduleCommands m_schedule;
    std::unique_ptr<CFileChooser> m_fileChooser;
    std::function<bool()> m_loginStep;
    CScheduleModel m_lines;
    CScheduleListView* m_list;
    QTimer m_minimizeTimer;
    Commands m_commands{};
    QString m_problem;
    QString m_launchProblem;
    QString m_serviceNote;
    // Last: its threads stop first when the view goes.
    CSchedulerRunner m_runner;
};
