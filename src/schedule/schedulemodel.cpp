#include "schedulemodel.h"

#include "monitordb/systemdatabase.h"

namespace {
const char* const kHeadings[] = {"Starttid", "Modell", "Startmacro", "Senaste beräkningstid",
                                 "Senaste mätdatatid"};
const int kWidths[] = {120, 270, 170, 110, 110};
} // namespace

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
    case StateImageRole:
        return line.stateImage;
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

void CScheduleModel::SetLines(QVector<CScheduleLine> lines) {
    beginResetModel();
    m_lines = std::move(lines);
    endResetModel();
}

void CScheduleModel::AppendLine(const CScheduleLine& line) {
    beginInsertRows({}, LineCount(), LineCount());
    m_lines.append(line);
    endInsertRows();
}

void CScheduleModel::RemoveLine(int row) {
    beginRemoveRows({}, row, row);
    m_lines.removeAt(row);
    endRemoveRows();
}

void CScheduleModel::SetKey(int row, int key) {
    m_lines[row].key = key;
}

QVector<int> CScheduleModel::Keys() const {
    QVector<int> keys;
    keys.reserve(m_lines.size());
    for (const CScheduleLine& line : m_lines)
        keys << line.key;
    return keys;
}

void CScheduleModel::SetStateImage(int row, int stateImage) {
    CScheduleLine& line = m_lines[row];
    if (line.stateImage == stateImage)
        return;
    line.stateImage = stateImage;
    const QModelIndex cell = index(row, StartTime);
    emit dataChanged(cell, cell, {StateImageRole});
}

void CScheduleModel::SetTimes(int row, qint64 calcSeconds, qint64 mesSeconds) {
    CScheduleLine& line = m_lines[row];
    if (line.calcSeconds == calcSeconds && line.mesSeconds == mesSeconds)
        return;
    line.calcSeconds = calcSeconds;
    line.mesSeconds = mesSeconds;
    line.calcTime = CSystemDatabase::TimeText(calcSeconds);
    line.mesTime = CSystemDatabase::TimeText(mesSeconds);
    emit dataChanged(index(row, CalcTime), index(row, MesTime), {Qt::DisplayRole});
}

int CScheduleModel::ColumnWidth(int column) {
    return kWidths[column];
}
