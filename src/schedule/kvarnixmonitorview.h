#pragma once

#include "schedule/schedulemodel.h"
#include "schedule/scheduler.h"

#include <QWidget>
#include <memory>

class CFileChooser;
class QAction;
class QTableView;

// The main view: the schedule list, kept sized to the window, the scheduler
// that drives it, and the commands that change the schedule.
class CKvarnixMonitorView : public QWidget {
    Q_OBJECT
public:
    // The row commands, for the frame's menus and toolbar.
    struct Commands {
        QAction* newRow;
        QAction* deleteRow;
        QAction* changeRow;
        QAction* resetRunFlags;
    };

    CKvarnixMonitorView(CMonitorSettings& settings, const CProgramPaths& paths, const CClock& clock,
                        CMessenger& messenger, QWidget* parent = nullptr);
    ~CKvarnixMonitorView() override;

    // Loads the settings and the schedule and starts the timers; false when the
    // monitor database cannot be opened.
    bool InitialUpdate();

    const Commands& RowCommands() const { return m_commands; }
    void SetFileChooser(std::unique_ptr<CFileChooser> chooser);

    QTableView* List() const { return m_list; }
    CScheduleModel& Lines() { return m_lines; }
    CScheduler& Scheduler() { return m_scheduler; }

    void OnNewRow();
    void OnChangeRow();
    void OnDeleteRow();
    void OnResetRunFlags();
    // A line's check box was clicked and shows the new state image: stores the
    // row's active flag.
    void OnStateImageChanged(int image, int line);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SetUpList();
    void CreateCommands();
    QAction* CreateCommand(int id, const QString& text, const QString& prompt);
    void UpdateCommandStates();
    int SelectedLine() const;
    bool ToggleCheckBoxAt(const QPoint& position);

    const CProgramPaths& m_paths;
    const CClock& m_clock;
    CMessenger& m_messenger;
    std::unique_ptr<CFileChooser> m_fileChooser;
    CScheduleModel m_lines;
    CScheduler m_scheduler;
    QTableView* m_list;
    Commands m_commands{};
};
