#include "schedule/schedulemodel.h"

namespace {
const char* const kHeadings[] = {"Starttid", "Modell", "Startmacro", "Senaste beräkningstid",
                                 "Senaste mätdatatid"};
const int kWidths[] = {120, 270, 170, 110, 110};

QString ClearedFlagToolTip(const QString& end) {
    return QStringLiteral("Den senaste körningen slutade utan att beräkningen återställde sin "
                          "beräkningsflagga (%1); övervakaren återställde den. Markeringen "
                          "försvinner när en körning blir klar.")
        .arg(end);
}

QString StaleToolTip() {
    return QStringLiteral("Beräkningsflaggan är satt, men ingen beräkning för raden körs på den "
                          "här datorn. Har beräkningen avbrutits, återställ flaggan med "
                          "\"Återställ beräkningsflaggan\".");
}

} // namespace

namespace StateImages {

StateImage ForRow(bool active, bool running) {
    if (running)
        return active ? StateImage::ActiveRunning : StateImage::InactiveRunning;
    return active ? StateImage::Active : StateImage::Inactive;
}

bool IsTicked(StateImage image) {
    return image == StateImage::Active || image == StateImage::ActiveRunning;
}

bool IsRunning(StateImage image) {
    return image == StateImage::InactiveRunning || image == StateImage::ActiveRunning;
}

StateImage Toggled(StateImage image) {
    return ForRow(!IsTicked(image), IsRunning(image));
}

StateImage WithRunFlag(StateImage image, bool running) {
    return ForRow(IsTicked(image), running);
}

} // namespace StateImages

int CScheduleModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : LineCount();
}

int CScheduleModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CScheduleModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= LineCount())
        return {};
    const CScheduleLine& line = m_lines.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case StartTime:
            return line.startTime;
        case Model:
            return line.model;
        case Macro:
            return line.macro;
        case CalcTime:
            return line.calcTime;
        case MesTime:
            return line.mesTime;
        }
        return {};
    case Qt::ToolTipRole:
        if (line.stale)
            return StaleToolTip();
        if (!line.launchFailure.isEmpty())
            return QStringLiteral("Beräkningsprogrammet kunde inte startas: %1")
                .arg(line.launchFailure);
        if (!line.clearedFlagEnd.isEmpty())
            return ClearedFlagToolTip(line.clearedFlagEnd);
        if (line.queuedJob != 0)
            return QStringLiteral("Väntar i Slurm-kön sedan %1 (jobb %2)")
                .arg(TimeText(line.queuedSince))
                .arg(line.queuedJob);
        return {};
    case StateImageRole:
        return int(line.stateImage);
    case StaleRole:
        return line.stale;
    case LaunchFailureRole:
        return line.launchFailure.isEmpty() ? line.clearedFlagEnd : line.launchFailure;
    case CancellableRole:
        return line.cancellable;
    case QueuedRole:
        return line.queuedJob != 0;
    }
    return {};
}

QVariant CScheduleModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromUtf8(kHeadings[section]);
    return {};
}

void CScheduleModel::SetRows(const QVector<CScheduleRow>& rows) {
    beginResetModel();
    m_lines.clear();
    m_lines.reserve(rows.size());
    for (const CScheduleRow& row : rows) {
        CScheduleLine line;
        line.key = row.key;
        line.startTime = row.startTime;
        line.model = row.model;
        line.macro = row.macro;
        line.stateImage = StateImages::ForRow(row.active);
        line.launchFailure = m_launchFailures.value(row.key);
        m_lines << line;
    }
    IndexKeys();
    endResetModel();
}

void CScheduleModel::AppendLine(const CScheduleLine& line) {
    beginInsertRows({}, LineCount(), LineCount());
    m_lines.append(line);
    m_lineOfKey.insert(line.key, LineCount() - 1);
    endInsertRows();
}

void CScheduleModel::RemoveLine(int row) {
    beginRemoveRows({}, row, row);
    m_lines.removeAt(row);
    IndexKeys();
    endRemoveRows();
}

void CScheduleModel::SetKey(int row, int key) {
    m_lines[row].key = key;
    IndexKeys();
}

void CScheduleModel::IndexKeys() {
    m_lineOfKey.clear();
    for (int row = 0; row < LineCount(); ++row)
        m_lineOfKey.insert(m_lines.at(row).key, row);
}

QVector<int> CScheduleModel::Keys() const {
    QVector<int> keys;
    keys.reserve(m_lines.size());
    for (const CScheduleLine& line : m_lines)
        keys << line.key;
    return keys;
}

int CScheduleModel::LineOfKey(int key) const {
    return m_lineOfKey.value(key, -1);
}

void CScheduleModel::LineChanged(int row, const QVector<int>& roles) {
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1), roles);
}

void CScheduleModel::SetStateImage(int row, StateImage stateImage) {
    CScheduleLine& line = m_lines[row];
    if (line.stateImage == stateImage)
        return;
    line.stateImage = stateImage;
    LineChanged(row, {StateImageRole});
}

void CScheduleModel::SetStale(int row, bool stale) {
    CScheduleLine& line = m_lines[row];
    if (line.stale == stale)
        return;
    line.stale = stale;
    LineChanged(row, {StaleRole, Qt::ToolTipRole});
}

void CScheduleModel::SetTimes(int row, qint64 calcSeconds, qint64 mesSeconds) {
    CScheduleLine& line = m_lines[row];
    if (line.calcSeconds == calcSeconds && line.mesSeconds == mesSeconds)
        return;
    line.calcSeconds = calcSeconds;
    line.mesSeconds = mesSeconds;
    line.calcTime = TimeText(calcSeconds);
    line.mesTime = TimeText(mesSeconds);
    emit dataChanged(index(row, CalcTime), index(row, MesTime), {Qt::DisplayRole});
}

void CScheduleModel::ApplyRunStates(const QHash<int, CRunState>& states) {
    for (int row = 0; row < LineCount(); ++row) {
        const auto state = states.constFind(m_lines.at(row).key);
        if (state == states.constEnd())
            continue;
        SetStateImage(row, StateImages::WithRunFlag(m_lines.at(row).stateImage, state->running));
        SetStale(row, state->stale);
        SetTimes(row, state->calcSeconds, state->mesSeconds);
        SetRunEnd(row, state->cancellable, state->clearedFlagEnd);
        SetQueued(row, state->queuedJob, state->queuedSince);
    }
}

void CScheduleModel::SetQueued(int row, qint64 job, qint64 since) {
    CScheduleLine& line = m_lines[row];
    if (line.queuedJob == job && line.queuedSince == since)
        return;
    line.queuedJob = job;
    line.queuedSince = since;
    LineChanged(row, {QueuedRole, Qt::ToolTipRole});
}

void CScheduleModel::SetRunEnd(int row, bool cancellable, const QString& clearedFlagEnd) {
    CScheduleLine& line = m_lines[row];
    if (line.cancellable == cancellable && line.clearedFlagEnd == clearedFlagEnd)
        return;
    line.cancellable = cancellable;
    line.clearedFlagEnd = clearedFlagEnd;
    LineChanged(row, {LaunchFailureRole, CancellableRole, Qt::ToolTipRole});
}

void CScheduleModel::SetLaunchFailure(int key, const QString& reason) {
    if (reason.isEmpty())
        m_launchFailures.remove(key);
    else
        m_launchFailures.insert(key, reason);
    const int row = LineOfKey(key);
    if (row < 0 || m_lines.at(row).launchFailure == reason)
        return;
    m_lines[row].launchFailure = reason;
    LineChanged(row, {LaunchFailureRole, Qt::ToolTipRole});
}

int CScheduleModel::ColumnWidth(int column) {
    return kWidths[column];
}
