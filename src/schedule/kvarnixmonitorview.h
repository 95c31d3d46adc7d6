#pragma once

#include "schedule/schedulemodel.h"
#include "schedule/scheduler.h"

#include <QWidget>

class QTableView;

// The main view: the schedule list, kept sized to the window, and the scheduler
// that drives it.
class CKvarnixMonitorView : public QWidget {
    Q_OBJECT
public:
    CKvarnixMonitorView(CMonitorSettings& settings, const CProgramPaths& paths, const CClock& clock,
                        CMessenger& messenger, QWidget* parent = nullptr);

    // Loads the settings and the schedule and starts the timers; false when the
    // monitor database cannot be opened.
    bool InitialUpdate();

    QTableView* List() const { return m_list; }
    CScheduleModel& Lines() { return m_lines; }
    CScheduler& Scheduler() { return m_scheduler; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void SetUpList();

    CScheduleModel m_lines;
    CScheduler m_scheduler;
    QTableView* m_list;
};
