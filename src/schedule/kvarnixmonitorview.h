#pragma once

#include "schedule/schedulemodel.h"
#include "schedule/schedulerrunner.h"

#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

class CFileChooser;
class CMessenger;
class CSystemDatabase;
class CValidCtrl;
class QAction;

// The main view: the schedule list, kept sized to the window, the scheduler
// that runs beside it, and the commands of the main menu.
class CKvarnixMonitorView : public QWidget {
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

    CKvarnixMonitorView(CMonitorSettings& settings, const CProgramPaths& paths, const CClock& clock,
                        CMessenger& messenger, QWidget* parent = nullptr);
    ~CKvarnixMonitorView() override;

    // Loads the settings and the schedule and starts the scheduler; false when
    // the monitor database cannot be opened.
    bool InitialUpdate();

    const Commands& MenuCommands() const { return m_commands; }
    void SetFileChooser(std::unique_ptr<CFileChooser> chooser);
    // The login that the settings dialog runs when the login check is switched on.
    void SetLoginStep(std::function<bool()> loginStep) { m_loginStep = std::move(loginStep); }

    CValidCtrl* List() const { return m_list; }
    CScheduleModel& Lines() { return m_lines; }
    CSchedulerRunner& Runner() { return m_runner; }
    const QTimer& MinimizeTimer() const { return m_minimizeTimer; }
    // What the status bar's first pane shows when no prompt does: the problem
    // the operator should know of, or empty for the idle text.
    QString StatusText() const;

    void OnNewRow();
    void OnChangeRow();
    void OnDeleteRow();
    void OnResetRunFlags();
    void OnShowMonitorLog();
    void OnSettings();
    // The list's notifications: a line's check box shows a new state image; a
    // line's model log is asked for.
    void OnStateImageChanged(int image, int line);
    void OnShowModelLog(int line);
    // The run flags and times as stored now, on every line.
    void ShowStoredRunStates(CSystemDatabase& db);
    // Starts the line's calculation at once, after asking; refused while it runs.
    void RunLineNow(int line);

signals:
    void StatusTextChanged(const QString& text);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateCommands();
    QAction* CreateCommand(int id, const QString& text, const QString& prompt,
                           void (CKvarnixMonitorView::*handler)());
    void UpdateCommandStates();
    int SelectedLine() const;
    void UpdateMinimizeTimer();
    void ShowLog(const QString& path);
    void OnLaunched(const CLaunchReport& report);
    void OnRunStatesRead(const CRunStates& states);
    void OnProblemChanged(const QString& text);
    void OnServiceClaimChanged(const QString& host);

    CMonitorSettings& m_settings;
    const CProgramPaths& m_paths;
    const CClock& m_clock;
    CMessenger& m_messenger;
    std::unique_ptr<CFileChooser> m_fileChooser;
    std::function<bool()> m_loginStep;
    CScheduleModel m_lines;
    CValidCtrl* m_list;
    QTimer m_minimizeTimer;
    Commands m_commands{};
    QString m_problem;
    QString m_launchProblem;
    QString m_serviceNote;
    // Last: its threads stop first when the view goes.
    CSchedulerRunner m_runner;
};
