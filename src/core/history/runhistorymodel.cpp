#include "history/runhistorymodel.h"

#include "monitordb/databaseerror.h"
#include "monitordb/databasefault.h"
#include "monitordb/systemdatabase.h"

namespace {

constexpr int kPageSize = 200;
constexpr int kBusyWaitMs = 2000;

} // namespace

CRunHistoryModel::CRunHistoryModel(QString databasePath, int key, QObject* parent)
    : QAbstractTableModel(parent), m_databasePath(std::move(databasePath)), m_key(key) {}

void CRunHistoryModel::Load() {
    QVector<CRun> page = ReadPage();
    beginResetModel();
    m_runs = std::move(page);
    endResetModel();
}

// Each page opens the file for as long as it takes to read it.
QVector<CRun> CRunHistoryModel::ReadPage() {
    CSystemDatabase db(m_databasePath, kBusyWaitMs);
    db.Open();
    QVector<CRun> page = db.Runs(m_key, int(m_runs.size()), kPageSize);
    m_complete = page.size() < kPageSize;
    return page;
}

int CRunHistoryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_runs.size());
}

int CRunHistoryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CRunHistoryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_runs.size() || role != Qt::DisplayRole)
        return {};
    const CRun& run = m_runs.at(index.row());
    switch (index.column()) {
    case Launched:
        return TimeText(run.launched);
    case Duration:
        return RunHistory::DurationOrState(run);
    case Outcome:
        return RunHistory::OutcomeText(run);
    case ExitStatus:
        return RunHistory::ExitStatusText(run);
    case Cpu:
        return RunHistory::CpuText(run);
    case Memory:
        return RunHistory::MemoryText(run);
    }
    return {};
}

QVariant CRunHistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case Launched:
        return QStringLiteral("Starttid");
    case Duration:
        return QStringLiteral("Varaktighet");
    case Outcome:
        return QStringLiteral("Utfall");
    case ExitStatus:
        return QStringLiteral("Slutstatus");
    case Cpu:
        return QStringLiteral("CPU-tid");
    case Memory:
        return QStringLiteral("Största minne");
    }
    return {};
}

bool CRunHistoryModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && !m_complete && !m_runs.isEmpty();
}

// A view asks for more as it scrolls; a page that cannot be read ends the list there.
void CRunHistoryModel::fetchMore(const QModelIndex& parent) {
    if (parent.isValid())
        return;
    QVector<CRun> page;
    try {
        page = ReadPage();
    } catch (const CDatabaseError& e) {
        m_complete = true;
        emit FetchFailed(FaultText(e, QStringLiteral("Fler körningar kunde inte läsas.")));
        return;
    }
    if (page.isEmpty())
        return;
    beginInsertRows({}, int(m_runs.size()), int(m_runs.size() + page.size() - 1));
    m_runs += page;
    endInsertRows();
}
