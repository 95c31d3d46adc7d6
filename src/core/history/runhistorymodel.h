#pragma once

#include "history/runhistory.h"

#include <QAbstractTableModel>
#include <QVector>

// The runs of one row, newest first, read a page at a time as a view scrolls
// to them: a row with a hundred thousand runs opens at once.
class CRunHistoryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The outcome last: it is the one text that may be long, and the last column stretches.
    enum Column { Launched, Duration, ExitStatus, Cpu, Memory, Outcome, ColumnCount };

    CRunHistoryModel(QString databasePath, int key, QObject* parent = nullptr);

    // Reads the first page; raises CDatabaseError when the file cannot be read.
    void Load();
    const CRun& RunAt(int row) const { return m_runs.at(row); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

signals:
    // A later page could not be read; the list ends where it is.
    void FetchFailed(const QString& text);

private:
    QVector<CRun> ReadPage();

    const QString m_databasePath;
    const int m_key;
    QVector<CRun> m_runs;
    bool m_complete = false;
};
