#include "dlgkorhistorik.h"

#include "app/messenger.h"
#include "monitordb/daoexception.h"
#include "monitordb/systemdatabase.h"
#include "schedule/runhistorymodel.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace {

constexpr int kStatisticsRuns = 30;
constexpr int kBusyWaitMs = 2000;

// One finished run has no spread to show.
QString StatisticsSentence(const RunHistory::CDurationStatistics& statistics) {
    if (statistics.count == 1)
        return QStringLiteral("Den senaste avslutade körningen tog %1.")
            .arg(RunHistory::DurationText(statistics.longest));
    return QStringLiteral("De senaste %1 avslutade körningarna: längst %2, kortast %3, median %4.")
        .arg(statistics.count)
        .arg(RunHistory::DurationText(statistics.longest),
             RunHistory::DurationText(statistics.shortest),
             RunHistory::DurationText(statistics.median));
}

} // namespace

CDlgKorhistorik::CDlgKorhistorik(const QString& databasePath, int key, const QString& model,
                                 CMessenger& messenger, QWidget* parent)
    : QDialog(parent), m_databasePath(databasePath), m_key(key), m_messenger(messenger),
      m_runs(new CRunHistoryModel(databasePath, key, this)), m_statistics(new QLabel(this)),
      m_table(new QTableView(this)) {
    setWindowTitle(QStringLiteral("Körhistorik - %1").arg(model));
    m_statistics->setObjectName(QStringLiteral("statistics"));
    m_table->setObjectName(QStringLiteral("runs"));
    m_table->setModel(m_runs);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    auto* close = new QPushButton(QStringLiteral("Stäng"), this);
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_statistics);
    layout->addWidget(m_table);
    layout->addWidget(close, 0, Qt::AlignRight);
    resize(560, 420);
}

int CDlgKorhistorik::Run() {
    QString problem = ShowStatistics();
    if (problem.isEmpty() && !m_runs->Load())
        problem = m_runs->LastError();
    if (!problem.isEmpty()) {
        m_messenger.ShowMessage(QStringLiteral("Körhistoriken kan inte visas: %1").arg(problem));
        return QDialog::Rejected;
    }
    m_table->resizeColumnsToContents();
    return exec();
}

// Empty, or what kept the statistics from being read.
QString CDlgKorhistorik::ShowStatistics() {
    CSystemDatabase db(m_databasePath, kBusyWaitMs);
    QVector<CRun> finished;
    if (!db.Open())
        return db.LastOpenFaultText();
    try {
        finished = db.FinishedRuns(m_key, kStatisticsRuns);
    } catch (const CDaoException& e) {
        return e.ErrorText();
    }
    const std::optional<RunHistory::CDurationStatistics> statistics =
        RunHistory::FinishedDurations(finished);
    m_statistics->setText(statistics ? StatisticsSentence(*statistics)
                                     : QStringLiteral("Ingen avslutad körning ännu."));
    return {};
}

QString CDlgKorhistorik::StatisticsText() const {
    return m_statistics->text();
}
