#pragma once

#include "runhistory.h"

#include <QAbstractTableModel>
#include <QVector>

// The runs of one row, newest first, read a page at a time as a view scrolls
// to them: a row with a hundred thousand runs opens at once.
class CRunHistoryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Launched, Duration, Outcome, ColumnCount };

    CRunHistoryModel(QString databasePath, int key, QObject* parent = nullptr);

    // Reads the first page; false when the file cannot be read, LastError() telling why.
    bool Load();
    QString LastError() const { return m_error; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    bool ReadPage(QVector<CRun>& page);

    const QString m_databasePath;
    const int m_key;
    QVector<CRun> m_runs;
    bool m_complete = false;
    QString m_error;
};
