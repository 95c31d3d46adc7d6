#include "dialogs/dlgprogramval.h"

#include "base/messenger.h"
#include "cluster/slurmqueue.h"
#include "commands/schedulecommands.h"
#include "dialogs/filechooser.h"
#include "monitordb/databaseerror.h"
#include "monitordb/databasefault.h"
#include "schedule/calculationlauncher.h"
#include "settings/monitorsettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

int CheckValue(const QCheckBox* box) {
    return box->isChecked() ? 1 : 0;
}

} // namespace

CDlgProgramVal::CDlgProgramVal(CMonitorSettings& settings, const CScheduleCommands& schedule,
                               CMessenger& messenger, CFileChooser& fileChooser,
                               std::function<bool()> loginStep, QWidget* parent)
    : QDialog(parent), m_settings(settings), m_schedule(schedule), m_messenger(messenger),
      m_fileChooser(fileChooser), m_loginStep(std::move(loginStep)) {
    setWindowTitle(QStringLiteral("Inställningar"));
    BuildControls();
}

// Created top to bottom, so the tab order follows the rows.
void CDlgProgramVal::BuildControls() {
    m_loginCheck = new QCheckBox(QStringLiteral("Inloggningskontroll"), this);
    m_saveCheck = new QCheckBox(QStringLiteral("Tillstånd att spara i IP21-databasen"), this);
    m_driftCheck = new QCheckBox(QStringLiteral("Timer i drift"), this);
    m_hideCheck = new QCheckBox(QStringLiteral("Minimera fönstret efter:"), this);
    m_hideMinutesEdit = AddNumberField(QStringLiteral("hideMinutesEdit"));
    m_logDaysEdit = AddNumberField(QStringLiteral("logDaysEdit"));
    m_pidDaysEdit = AddNumberField(QStringLiteral("pidDaysEdit"));
    m_programPathEdit = new QLineEdit(this);
    m_programPathEdit->setMinimumWidth(230);
    // Only "..." sets the path; typing would look taken and be thrown away.
    m_programPathEdit->setReadOnly(true);
    auto* browse = new QPushButton(QStringLiteral("..."), this);
    browse->setFixedWidth(32);
    m_failureCommandEdit = new QLineEdit(this);
    m_failureCommandEdit->setPlaceholderText(QStringLiteral("tomt = inget kommando"));
    m_failureCommandEdit->setObjectName(QStringLiteral("failureCommandEdit"));
    m_startOnCombo = new QComboBox(this);
    m_startOnCombo->addItems(
        {QStringLiteral("på den här datorn"), QStringLiteral("i Slurm-klustret")});
    m_startOnCombo->setObjectName(QStringLiteral("startOnCombo"));
    m_partitionEdit = new QLineEdit(this);
    m_partitionEdit->setPlaceholderText(QStringLiteral("tomt = klustrets standardpartition"));
    m_partitionEdit->setObjectName(QStringLiteral("slurmPartitionEdit"));
    m_slurmOptionsEdit = new QLineEdit(this);
    m_slurmOptionsEdit->setPlaceholderText(QStringLiteral("t.ex. --mem=4G --cpus-per-task=2"));
    m_slurmOptionsEdit->setObjectName(QStringLiteral("slurmOptionsEdit"));
    connect(m_startOnCombo, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this](int index) { ShowWhereCalculationsStart(index == 1); });
    auto* cancel = new QPushButton(QStringLiteral("Avbryt"), this);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);

    m_loginCheck->setObjectName(QStringLiteral("loginCheck"));
    m_saveCheck->setObjectName(QStringLiteral("saveCheck"));
    m_driftCheck->setObjectName(QStringLiteral("driftCheck"));
    m_hideCheck->setObjectName(QStringLiteral("hideCheck"));
    m_programPathEdit->setObjectName(QStringLiteral("programPathEdit"));
    browse->setObjectName(QStringLiteral("browseButton"));
    cancel->setObjectName(QStringLiteral("cancelButton"));
    ok->setObjectName(QStringLiteral("okButton"));
    connect(browse, &QPushButton::clicked, this, &CDlgProgramVal::BrowseProgram);
    connect(cancel, &QPushButton::clicked, this, &CDlgProgramVal::reject);
    connect(ok, &QPushButton::clicked, this, &CDlgProgramVal::accept);

    auto* grid = new QGridLayout;
    grid->addWidget(m_loginCheck, 0, 0, 1, 3);
    grid->addWidget(m_saveCheck, 1, 0, 1, 3);
    grid->addWidget(m_driftCheck, 2, 0, 1, 3);
    grid->addWidget(m_hideCheck, 3, 0);
    grid->addWidget(m_hideMinutesEdit, 3, 1);
    grid->addWidget(new QLabel(QStringLiteral("Minuter"), this), 3, 2);
    grid->addWidget(new QLabel(QStringLiteral("Loggens längd:"), this), 4, 0);
    grid->addWidget(m_logDaysEdit, 4, 1);
    grid->addWidget(new QLabel(QStringLiteral("Dagar"), this), 4, 2);
    grid->addWidget(new QLabel(QStringLiteral("POI - Loggens längd:"), this), 5, 0);
    grid->addWidget(m_pidDaysEdit, 5, 1);
    grid->addWidget(new QLabel(QStringLiteral("Dagar"), this), 5, 2);
    grid->setColumnStretch(2, 1);

    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(m_programPathEdit);
    pathRow->addWidget(browse);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel);
    buttons->addWidget(ok);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(new QLabel(QStringLiteral("Sökväg till exekverande program:"), this));
    layout->addLayout(pathRow);
    auto* failureLabel = new QLabel(QStringLiteral("&Kör vid fel:"), this);
    failureLabel->setBuddy(m_failureCommandEdit);
    failureLabel->setToolTip(QStringLiteral(
        "Program som körs när en körning slutar på annat sätt än \"klar\", med radens nyckel, "
        "modell, makro, utfall och utskriftsfil som fem argument"));
    layout->addWidget(failureLabel);
    layout->addWidget(m_failureCommandEdit);
    auto* cluster = new QGridLayout;
    cluster->addWidget(new QLabel(QStringLiteral("Starta beräkningar:"), this), 0, 0);
    cluster->addWidget(m_startOnCombo, 0, 1);
    cluster->addWidget(new QLabel(QStringLiteral("Partition:"), this), 1, 0);
    cluster->addWidget(m_partitionEdit, 1, 1);
    auto* optionsLabel = new QLabel(QStringLiteral("Fler sbatch-flaggor:"), this);
    optionsLabel->setToolTip(
        QStringLiteral("Delas upp i argument som på en kommandorad men ges aldrig till ett skal"));
    cluster->addWidget(optionsLabel, 2, 0);
    cluster->addWidget(m_slurmOptionsEdit, 2, 1);
    layout->addLayout(cluster);
    layout->addWidget(line);
    layout->addLayout(buttons);
}

QLineEdit* CDlgProgramVal::AddNumberField(const QString& objectName) {
    auto* field = new QLineEdit(this);
    field->setObjectName(objectName);
    field->setFixedWidth(48);
    return field;
}

int CDlgProgramVal::Run() {
    if (!LoadSettings())
        return ResultCancel;
    return exec();
}

bool CDlgProgramVal::LoadSettings() {
    m_strProgramPath = m_settings.programPath;
    try {
        ShowSettings(m_schedule.ReadSwitches());
    } catch (const CDatabaseError& e) {
        m_messenger.ShowMessage(FaultText(e, QStringLiteral("Inställningarna kunde inte läsas.")));
        return false;
    }
    return true;
}

// The numbers come from the running program, defaults already applied; the
// switches are read afresh, and SAVE and DRIFT in the running program follow
// what is stored.
void CDlgProgramVal::ShowSettings(const CStoredSwitches& stored) {
    m_logDaysEdit->setText(QString::number(m_settings.logDays));
    m_pidDaysEdit->setText(QString::number(m_settings.pidDays));
    m_settings.mayWriteIp21 = stored.mayWriteIp21 ? 1 : 0;
    m_saveCheck->setChecked(stored.mayWriteIp21);
    m_settings.schedulerOn = stored.schedulerOn ? 1 : 0;
    m_driftCheck->setChecked(stored.schedulerOn);
    m_bStoredLoginCheck = stored.loginCheck;
    m_loginCheck->setChecked(stored.loginCheck);
    m_hideMinutesEdit->setText(QString::number(m_settings.minimizeMinutes));
    m_hideCheck->setChecked(stored.minimizePeriodically);
    ShowProgramPath(m_settings.programPath);
    m_failureCommandEdit->setText(m_settings.failureCommand);
    m_startOnCombo->setCurrentIndex(m_settings.startOnCluster ? 1 : 0);
    m_partitionEdit->setText(m_settings.slurmPartition);
    m_slurmOptionsEdit->setText(m_settings.slurmOptions);
    ShowWhereCalculationsStart(m_settings.startOnCluster);
}

// The partition and the options only matter to the cluster.
void CDlgProgramVal::ShowWhereCalculationsStart(bool onCluster) {
    m_partitionEdit->setEnabled(onCluster);
    m_slurmOptionsEdit->setEnabled(onCluster);
}

// Only a chosen file changes the path; what is typed into the field is never taken.
void CDlgProgramVal::BrowseProgram() {
    const QString file = m_fileChooser.ChooseCalculationProgram(this);
    if (file.isEmpty())
        return;
    m_strProgramPath = file;
    ShowProgramPath(file);
}

// A long path shows only its end in the field; the tooltip holds it whole.
void CDlgProgramVal::ShowProgramPath(const QString& path) {
    m_programPathEdit->setText(path);
    m_programPathEdit->setToolTip(path);
}

// Every field is checked before anything is stored, so a refused OK leaves both
// the database and the running program as they were.
void CDlgProgramVal::accept() {
    const std::optional<Numbers> numbers = ReadNumbers();
    if (!numbers || !FailureCommandStartable() || !ClusterReachable())
        return;
    try {
        StoreSettings(*numbers);
    } catch (const CDatabaseError& e) {
        m_messenger.ShowMessage(
            FaultText(e, QStringLiteral("Inställningarna kunde inte sparas helt.")));
    }
    RepaintMainWindow();
    done(ResultOk);
}

void CDlgProgramVal::reject() {
    done(ResultCancel);
}

// A zero or negative span would make the log trimming and the PID purge throw
// away everything, and a zero period would minimise the window without pause.
std::optional<CDlgProgramVal::Numbers> CDlgProgramVal::ReadNumbers() {
    const std::optional<int> hideMinutes =
        ReadNumber(m_hideMinutesEdit, QStringLiteral("Minimera fönstret efter"));
    if (!hideMinutes)
        return std::nullopt;
    const std::optional<int> logDays = ReadNumber(m_logDaysEdit, QStringLiteral("Loggens längd"));
    if (!logDays)
        return std::nullopt;
    const std::optional<int> pidDays =
        ReadNumber(m_pidDaysEdit, QStringLiteral("POI - Loggens längd"));
    if (!pidDays)
        return std::nullopt;
    return Numbers{*hideMinutes, *logDays, *pidDays};
}

// Checked when it is chosen, not after the first failed run that should have told someone.
bool CDlgProgramVal::FailureCommandStartable() {
    const QString command = m_failureCommandEdit->text().trimmed();
    if (command.isEmpty())
        return true;
    const QString whyNot = CCalculationLauncher::WhyNotStartable(command);
    if (whyNot.isEmpty())
        return true;
    m_messenger.ShowMessage(
        QStringLiteral("Kommandot i fältet Kör vid fel kan inte startas: %1.").arg(whyNot));
    m_failureCommandEdit->setFocus();
    return false;
}

// Without the Slurm commands every start would fail; better told now than at the next minute.
bool CDlgProgramVal::ClusterReachable() {
    if (m_startOnCombo->currentIndex() != 1)
        return true;
    const QString missing = CSlurmQueue().MissingCommands();
    if (missing.isEmpty())
        return true;
    m_messenger.ShowMessage(
        QStringLiteral("Beräkningarna kan inte startas i Slurm-klustret: %1").arg(missing));
    m_startOnCombo->setFocus();
    return false;
}

std::optional<int> CDlgProgramVal::ReadNumber(QLineEdit* field, const QString& fieldName) {
    bool isNumber = false;
    const int value = field->text().trimmed().toInt(&isNumber);
    if (isNumber && value > 0)
        return value;
    m_messenger.ShowMessage(
        QStringLiteral("Ange ett heltal större än 0 i fältet %1.").arg(fieldName));
    field->setFocus();
    field->selectAll();
    return std::nullopt;
}

// A cancelled login keeps the stored login check and the running log span as they
// were; everything before it is stored all the same.
void CDlgProgramVal::StoreSettings(const Numbers& numbers) {
    m_settings.mayWriteIp21 = CheckValue(m_saveCheck);
    m_settings.programPath = m_strProgramPath;
    m_settings.failureCommand = m_failureCommandEdit->text().trimmed();
    m_settings.startOnCluster = m_startOnCombo->currentIndex() == 1;
    m_settings.slurmPartition = m_partitionEdit->text().trimmed();
    m_settings.slurmOptions = m_slurmOptionsEdit->text().trimmed();
    m_settings.schedulerOn = CheckValue(m_driftCheck);
    m_settings.minimizeMinutes = numbers.hideMinutes;
    m_settings.minimizePeriodically = CheckValue(m_hideCheck);
    m_settings.pidDays = numbers.pidDays;
    CMonitorSettings stored = m_settings;
    stored.logDays = numbers.logDays;
    m_schedule.StoreSettings(stored);
    if (!m_bStoredLoginCheck && m_loginCheck->isChecked() && !m_loginStep())
        return;
    m_schedule.StoreLoginCheck(m_loginCheck->isChecked());
    m_settings.logDays = numbers.logDays;
}

// The status bar shows SAVE and DRIFT.
void CDlgProgramVal::RepaintMainWindow() {
    if (parentWidget())
        parentWidget()->window()->update();
}
