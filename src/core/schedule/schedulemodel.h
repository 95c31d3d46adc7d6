#pragma once

#include "schedule/runstate.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QVector>

// The picture at the left of a line: an empty or a ticked box for the row's active flag,
// white, or red while the row's run flag is set. The numbers are the ones the list's
// images have always had.
enum class StateImage { Inactive = 1, Active = 2, InactiveRunning = 3, ActiveRunning = 4 };

namespace StateImages {
StateImage ForRow(bool active, bool running = false);
bool IsTicked(StateImage image);
bool IsRunning(StateImage image);
// A click on the check box: the tick changes, the colour stays.
StateImage Toggled(StateImage image);
// The same tick, in the colour of the run flag.
StateImage WithRunFlag(StateImage image, bool running);
} // namespace StateImages

// One line of the schedule list: a stored row as the operator sees it.
struct CScheduleLine {
    QString startTime; // display form
    QString model;
    QString macro;
    QString calcTime;
    QString mesTime;
    // The stored times the two texts were made from; -1 before the first refresh.
    qint64 calcSeconds = -1;
    qint64 mesSeconds = -1;
    int key = -1;
    StateImage stateImage = StateImage::Inactive;
    // The run flag is set, but no calculation of the row runs on this host.
    bool stale = false;
    // Why the row's last start failed; empty once it started.
    QString launchFailure;
    // How the latest run ended when its supervisor had to clear the run flag it left set.
    QString clearedFlagEnd;
    // Its run is supervised and may be cancelled.
    bool cancellable = false;
    // Its run is a batch job waiting for a node (0: none), submitted then.
    qint64 queuedJob = 0;
    qint64 queuedSince = 0;
};

// The lines of the schedule list, as the window shows them: the stored rows, read anew
// after every change of a row, with their run flags and times as the refresh last read them.
class CScheduleModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { StartTime, Model, Macro, CalcTime, MesTime, ColumnCount };
    // LaunchFailureRole: why the line is marked as failed (a failed start, or a run that left
    // its flag set), empty when it is not.
    // QueuedRole: the row's run waits in the Slurm queue.
    enum Role {
        StateImageRole = Qt::UserRole + 1,
        StaleRole,
        LaunchFailureRole,
        CancellableRole,
        QueuedRole
    };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // The lines of the stored rows, each with image 1 or 2 from its active flag.
    void SetRows(const QVector<CScheduleRow>& rows);
    void AppendLine(const CScheduleLine& line);
    void RemoveLine(int row);
    void SetKey(int row, int key);
    const CScheduleLine& Line(int row) const { return m_lines.at(row); }
    int LineCount() const { return int(m_lines.size()); }
    QVector<int> Keys() const;
    // -1 when no line shows the key.
    int LineOfKey(int key) const;

    void SetStateImage(int row, StateImage stateImage);
    // Seconds since 1970, 0 for none; the texts are made only when a time changed.
    void SetTimes(int row, qint64 calcSeconds, qint64 mesSeconds);
    // The running colour, stale mark and times of every line the states know.
    void ApplyRunStates(const QHash<int, CRunState>& states);
    // Kept across reloads of the list until the row starts again.
    void SetLaunchFailure(int key, const QString& reason);

    // The narrowest each column may be, in pixels; the list widens a column
    // where its font needs more.
    static int ColumnWidth(int column);

private:
    void SetRunEnd(int row, bool cancellable, const QString& clearedFlagEnd);
    void SetQueued(int row, qint64 job, qint64 since);
    void SetStale(int row, bool stale);
    void LineChanged(int row, const QVector<int>& roles);
    void IndexKeys();

    QVector<CScheduleLine> m_lines;
    QHash<int, int> m_lineOfKey;
    QHash<int, QString> m_launchFailures;
};
