#include "dialogs/dlgkorhistorik.h"

#include "base/messenger.h"
#include "commands/schedulecommands.h"
#include "dialogs/dlgvisalogg.h"
#include "history/runhistorymodel.h"
#include "monitordb/databaseerror.h"
#include "monitordb/databasefault.h"
#include "widgets/cuttexttipdelegate.h"
#include "widgets/screenroom.h"

#include <QHBoxLayout>
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
    m_showOutput = new QPushButton(QStringLiteral("&Visa utskrift"), this);
    m_showOutput->setObjectName(QStringLiteral("showOutputButton"));
    m_showOutput->setToolTip(QStringLiteral("Visar vad den markerade körningen skrev ut"));
    m_showOutput->setEnabled(false);
    connect(m_showOutput, &QPushButton::clicked, this, &CDlgKorhistorik::ShowOutput);
    connect(m_table, &QTableView::doubleClicked, this, &CDlgKorhistorik::ShowOutput);
    connect(m_runs, &CRunHistoryModel::FetchFailed, this,
            [this](const QString& text) { m_messenger.ShowMessage(text); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_statistics);
    layout->addWidget(m_table);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_showOutput);
    buttons->addStretch();
    buttons->addWidget(close);
    layout->addLayout(buttons);
    ResizeWithinScreen(*this, QSize(760, 420));
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
    connect(m_table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this] { m_showOutput->setEnabled(!SelectedOutput().isEmpty()); });
    return exec();
}

// Only a supervised run has an output file.
QString CDlgKorhistorik::SelectedOutput() const {
    const QModelIndex current = m_table->currentIndex();
    return current.isValid() ? m_runs->RunAt(current.row()).outputPath : QString();
}

void CDlgKorhistorik::ShowOutput() {
    const QString output = SelectedOutput();
    if (output.isEmpty())
        return;
    CDlgVisaLogg viewer(output, CDlgVisaLogg::LogKind::RunOutput, m_messenger, this);
    viewer.Run();
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
