#include "runhistorymodel.h"

#include "monitordb/daoexception.h"
#include "monitordb/systemdatabase.h"

namespace {

constexpr int kPageSize = 200;
constexpr int kBusyWaitMs = 2000;

} // namespace

CRunHistoryModel::CRunHistoryModel(QString databasePath, int key, QObject* parent)
    : QAbstractTableModel(parent), m_databasePath(std::move(databasePath)), m_key(key) {}

bool CRunHistoryModel::Load() {
    QVector<CRun> page;
    if (!ReadPage(page))
        return false;
    beginResetModel();
    m_runs = std::move(page);
    endResetModel();
    return true;
}

// Each page opens the file for as long as it takes to read it.
bool CRunHistoryModel::ReadPage(QVector<CRun>& page) {
    CSystemDatabase db(m_databasePath, kBusyWaitMs);
    if (!db.Open()) {
        m_error = db.LastOpenFaultText();
        return false;
    }
    try {
        page = db.Runs(m_key, int(m_runs.size()), kPageSize);
    } catch (const CDaoException& e) {
        m_error = e.ErrorText();
        return false;
    }
    m_complete = page.size() < kPageSize;
    return true;
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
    }
    return {};
}

bool CRunHistoryModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && !m_complete && !m_runs.isEmpty();
}

void CRunHistoryModel::fetchMore(const QModelIndex& parent) {
    QVector<CRun> page;
    if (parent.isValid() || !ReadPage(page) || page.isEmpty())
        return;
    beginInsertRows({}, int(m_runs.size()), int(m_runs.size() + page.size() - 1));
    m_runs += page;
    endInsertRows();
}
