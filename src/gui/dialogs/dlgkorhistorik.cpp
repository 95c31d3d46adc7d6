#include "dialogs/dlgkorhistorik.h"

#include "base/messenger.h"
#include "commands/schedulecommands.h"
#include "history/runhistorymodel.h"
#include "monitordb/databaseerror.h"
#include "monitordb/databasefault.h"
#include "widgets/cuttexttipdelegate.h"
#include "widgets/screenroom.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace {

constexpr int kStatisticsRuns = 30;

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

CDlgKorhistorik::CDlgKorhistorik(const CScheduleCommands& schedule, int key, const QString& model,
                                 CMessenger& messenger, QWidget* parent)
    : QDialog(parent), m_schedule(schedule), m_key(key), m_messenger(messenger),
      m_runs(new CRunHistoryModel(schedule.DatabasePath(), key, this)),
      m_statistics(new QLabel(this)), m_table(new QTableView(this)) {
    setWindowTitle(QStringLiteral("Körhistorik - %1").arg(model));
    m_statistics->setObjectName(QStringLiteral("statistics"));
    m_table->setObjectName(QStringLiteral("runs"));
    m_table->setModel(m_runs);
    m_table->setItemDelegate(new CCutTextTipDelegate(m_table));
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    auto* close = new QPushButton(QStringLiteral("Stäng"), this);
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_runs, &CRunHistoryModel::FetchFailed, this,
            [this](const QString& text) { m_messenger.ShowMessage(text); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_statistics);
    layout->addWidget(m_table);
    layout->addWidget(close, 0, Qt::AlignRight);
    ResizeWithinScreen(*this, QSize(560, 420));
}

int CDlgKorhistorik::Run() {
    try {
        ShowStatistics();
        m_runs->Load();
    } catch (const CDatabaseError& e) {
        m_messenger.ShowMessage(FaultText(e, QStringLiteral("Körhistoriken kan inte visas.")));
        return QDialog::Rejected;
    }
    m_table->resizeColumnsToContents();
    return exec();
}

void CDlgKorhistorik::ShowStatistics() {
    const std::optional<RunHistory::CDurationStatistics> statistics =
        RunHistory::FinishedDurations(m_schedule.FinishedRuns(m_key, kStatisticsRuns));
    m_statistics->setText(statistics ? StatisticsSentence(*statistics)
                                     : QStringLiteral("Ingen avslutad körning ännu."));
}

QString CDlgKorhistorik::StatisticsText() const {
    return m_statistics->text();
}
