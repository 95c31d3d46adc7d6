#include "dialogs/dlginmatning.h"

#include "base/clock.h"
#include "base/messenger.h"
#include "commands/schedulecommands.h"
#include "dialogs/filechooser.h"
#include "modeldb/macrodatabase.h"
#include "monitordb/databaseerror.h"
#include "monitordb/databasefault.h"
#include "rules/starttime.h"
#include "widgets/maskedit.h"

#include <QCollator>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>

namespace {

const QString kAbsoluteMask =
    QStringLiteral("[2X][0-9X][0-9X][0-9X]-[0-9X][0-9X]-[0-9X][0-9X] [0-9X][0-9X]:[0-9X][0-9X]");
const QString kAbsoluteDefault = QStringLiteral("XXXXXXXXXXXX");
const QString kTimeMask = QStringLiteral("[0-9][0-9]:[0-5][0-9]");
const QString kTimeDefault = QStringLiteral("0000");

constexpr int kOpenRetryMs = 200;
// A macro database another program holds is tried this often.
constexpr int kMacroOpenAttempts = 5;
// A week: a limit beyond it is no limit an operator means.
constexpr int kLongestTimeLimitMinutes = 7 * 24 * 60;

// Å, Ä and Ö after Z, and upper and lower case together, where a Swedish
// operator looks for a name. Names that differ only in case keep their stored order.
void SortAsSwedish(QList<CMacroDatabase::Macro>& macros) {
    QCollator collator(QLocale(QLocale::Swedish, QLocale::Sweden));
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(macros.begin(), macros.end(), [&collator](const auto& a, const auto& b) {
        return collator.compare(a.name, b.name) < 0;
    });
}

// A file another program holds for a moment is tried again a few times; one that is no
// database, or cannot be read, is not.
QList<CMacroDatabase::Macro> ReadMacros(const QString& path) {
    CMacroDatabase macroDatabase(path);
    for (int attempt = 1;; ++attempt) {
        try {
            macroDatabase.Open();
            return macroDatabase.Macros();
        } catch (const CDatabaseError& e) {
            if (ClassifyFault(e) != DatabaseFault::Busy || attempt == kMacroOpenAttempts)
                throw;
        }
        QThread::msleep(kOpenRetryMs);
    }
}

// Sunday is 0, as the weekday names count.
int WeekdayIndexOf(const QDate& date) {
    return date.dayOfWeek() % 7;
}

} // namespace

CDlgInmatning::CDlgInmatning(int key, const CScheduleCommands& schedule, CMessenger& messenger,
                             CFileChooser& fileChooser, const CClock& clock, QWidget* parent)
    : QDialog(parent), m_nKey(key), m_schedule(schedule), m_messenger(messenger),
      m_fileChooser(fileChooser), m_clock(clock) {
    setWindowTitle(QStringLiteral("KvarnixMonitor - Ny starttid"));
    BuildControls();
    InstallMasks();
    FillWeekdays();
    // The operator starts with the model, as the dialog reads from the top; installing the
    // masks has moved the focus to the time fields.
    m_modelEdit->setFocus();
}

void CDlgInmatning::BuildControls() {
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Avbryt"), QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    ok->setObjectName(QStringLiteral("okButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CDlgInmatning::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CDlgInmatning::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(BuildModelGroup());
    layout->addWidget(BuildStartTimeGroup());
    layout->addWidget(BuildTimeLimitRow());
    layout->addWidget(buttons);
    // Like every dialog of the program: its fields never stretch.
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QWidget* CDlgInmatning::BuildModelGroup() {
    auto* group = new QGroupBox(QStringLiteral("Modell"), this);
    m_modelEdit = new QLineEdit(group);
    m_modelEdit->setMinimumWidth(320);
    m_browseButton = new QPushButton(QStringLiteral("..."), group);
    m_browseButton->setFixedWidth(32);
    m_macroBox = new QComboBox(group);
    m_modelEdit->setObjectName(QStringLiteral("modelEdit"));
    m_browseButton->setObjectName(QStringLiteral("browseButton"));
    m_macroBox->setObjectName(QStringLiteral("macroBox"));
    connect(m_browseButton, &QPushButton::clicked, this, &CDlgInmatning::BrowseModel);

    auto* grid = new QGridLayout(group);
    grid->addWidget(m_modelEdit, 0, 0, 1, 2);
    grid->addWidget(m_browseButton, 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("Startmakro:"), group), 1, 0);
    grid->addWidget(m_macroBox, 1, 1, 1, 2);
    return group;
}

QWidget* CDlgInmatning::BuildStartTimeGroup() {
    auto* group = new QGroupBox(QStringLiteral("Starttid"), this);
    m_absoluteButton = new QRadioButton(QStringLiteral("Absolut tid"), group);
    m_weekdayButton = new QRadioButton(QStringLiteral("Veckodag"), group);
    m_cyclicButton = new QRadioButton(QStringLiteral("Cyklisk"), group);
    m_absoluteEdit = new CMaskEdit(group);
    m_weekdayBox = new QComboBox(group);
    m_weekdayTimeEdit = new CMaskEdit(group);
    m_weekdayUnit = new QLabel(QStringLiteral("tt:mm"), group);
    m_cyclicEdit = new CMaskEdit(group);
    m_cyclicUnit = new QLabel(QStringLiteral("tt:mm"), group);
    m_absoluteButton->setObjectName(QStringLiteral("absoluteButton"));
    m_weekdayButton->setObjectName(QStringLiteral("weekdayButton"));
    m_cyclicButton->setObjectName(QStringLiteral("cyclicButton"));
    m_absoluteEdit->setObjectName(QStringLiteral("absoluteEdit"));
    m_weekdayBox->setObjectName(QStringLiteral("weekdayBox"));
    m_weekdayTimeEdit->setObjectName(QStringLiteral("weekdayTimeEdit"));
    m_cyclicEdit->setObjectName(QStringLiteral("cyclicEdit"));
    connect(m_absoluteButton, &QRadioButton::clicked, this, [this] { ChooseKind(AbsoluteKind); });
    connect(m_weekdayButton, &QRadioButton::clicked, this, [this] { ChooseKind(WeekdayKind); });
    connect(m_cyclicButton, &QRadioButton::clicked, this, [this] { ChooseKind(CyclicKind); });

    auto* grid = new QGridLayout(group);
    grid->addWidget(m_absoluteButton, 0, 0);
    grid->addWidget(m_absoluteEdit, 0, 1, 1, 3);
    grid->addWidget(m_weekdayButton, 1, 0);
    grid->addWidget(m_weekdayBox, 1, 1);
    grid->addWidget(m_weekdayTimeEdit, 1, 2);
    grid->addWidget(m_weekdayUnit, 1, 3);
    grid->addWidget(m_cyclicButton, 2, 0);
    grid->addWidget(m_cyclicEdit, 2, 2);
    grid->addWidget(m_cyclicUnit, 2, 3);
    return group;
}

// Stored as a named number of the row's: the supervisor stops a run at it.
QWidget* CDlgInmatning::BuildTimeLimitRow() {
    auto* row = new QWidget(this);
    m_timeLimitBox = new QSpinBox(row);
    m_timeLimitBox->setRange(0, kLongestTimeLimitMinutes);
    m_timeLimitBox->setObjectName(QStringLiteral("timeLimitBox"));
    auto* label = new QLabel(QStringLiteral("&Längsta körtid (minuter, 0 = ingen gräns):"), row);
    label->setBuddy(m_timeLimitBox);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label);
    layout->addWidget(m_timeLimitBox);
    layout->addStretch();
    return row;
}

int CDlgInmatning::TimeLimit() const {
    return m_timeLimitBox->value();
}

// Installing a mask enables its field; no field is usable until a kind is chosen.
void CDlgInmatning::InstallMasks() {
    m_absoluteEdit->SetMask(kAbsoluteMask, kAbsoluteDefault, 0, 0);
    m_cyclicEdit->SetMask(kTimeMask, kTimeDefault, 0, 0);
    m_weekdayTimeEdit->SetMask(kTimeMask, kTimeDefault, 0, 0);
    for (QWidget* field :
         {static_cast<QWidget*>(m_absoluteEdit), static_cast<QWidget*>(m_cyclicEdit),
          static_cast<QWidget*>(m_cyclicUnit), static_cast<QWidget*>(m_weekdayBox),
          static_cast<QWidget*>(m_weekdayTimeEdit), static_cast<QWidget*>(m_weekdayUnit)})
        field->setEnabled(false);
}

void CDlgInmatning::FillWeekdays() {
    for (int day = 0; day < 7; ++day)
        m_weekdayBox->addItem(StartTime::WeekdayName(day), day);
    m_weekdayBox->setCurrentIndex(WeekdayIndexOf(m_clock.Now().date()));
}

int CDlgInmatning::Run() {
    if (m_nKey != -1) {
        if (const std::optional<int> ended = LoadRow())
            return *ended;
    }
    return exec();
}

// Change mode: puts the stored row into the controls. A missing macro database
// ends the dialog at once with the operator's answer.
std::optional<int> CDlgInmatning::LoadRow() {
    setWindowTitle(QStringLiteral("KvarnixMonitor - Ändra starttid"));
    QString tid;
    try {
        const CScheduleRow row = m_schedule.LoadRow(m_nKey);
        tid = row.startTime;
        m_strModel = row.model;
        m_strMacro = row.macro;
        m_nImplemented = row.implemented;
        m_timeLimitBox->setValue(m_schedule.TimeLimit(m_nKey));
    } catch (const CDatabaseError& e) {
        m_messenger.ShowMessage(FaultText(e, QStringLiteral("Raden kunde inte läsas.")));
    }
    ShowStoredStartTime(tid);
    m_modelEdit->setText(m_strModel);

    const QString macroDatabasePath = m_strModel + QStringLiteral(".mac");
    if (!QFileInfo::exists(macroDatabasePath)) {
        const bool deleteRow = m_messenger.AskYesNo(
            QStringLiteral("Sökvägen felaktig. Ta bort raden och lägg in en\nny rad med rätt "
                           "sökväg. Skall raden tas bort?"));
        return deleteRow ? ResultDeleteRow : ResultKeepRow;
    }
    FillMacroList(macroDatabasePath);
    SelectMacro(m_strMacro);
    return std::nullopt;
}

// The stored text is put into its field as it is, without passing the mask.
void CDlgInmatning::ShowStoredStartTime(const QString& tid) {
    switch (StartTime::Classify(tid)) {
    case StartTime::Kind::Cyclic:
        ChooseKind(CyclicKind);
        m_cyclicEdit->SetPlainText(tid);
        break;
    case StartTime::Kind::Weekday: {
        ChooseKind(WeekdayKind);
        const int day = m_weekdayBox->findText(tid.section(QLatin1Char(' '), 0, 0));
        if (day >= 0)
            m_weekdayBox->setCurrentIndex(day);
        m_weekdayTimeEdit->SetPlainText(tid.right(5));
        break;
    }
    case StartTime::Kind::Absolute:
        ChooseKind(AbsoluteKind);
        m_absoluteEdit->SetPlainText(tid);
        break;
    }
}

void CDlgInmatning::ChooseKind(Kind kind) {
    m_nKind = kind;
    m_absoluteButton->setChecked(kind == AbsoluteKind);
    m_cyclicButton->setChecked(kind == CyclicKind);
    m_weekdayButton->setChecked(kind == WeekdayKind);
    m_absoluteEdit->setEnabled(kind == AbsoluteKind);
    m_cyclicEdit->setEnabled(kind == CyclicKind);
    m_cyclicUnit->setEnabled(kind == CyclicKind);
    m_weekdayBox->setEnabled(kind == WeekdayKind);
    m_weekdayTimeEdit->setEnabled(kind == WeekdayKind);
    m_weekdayUnit->setEnabled(kind == WeekdayKind);
}

void CDlgInmatning::BrowseModel() {
    const QString file = m_fileChooser.ChooseModelFile(this);
    if (file.isEmpty())
        return;
    // The schedule keeps the model path without its four-character extension.
    m_strModel = file.left(std::max<qsizetype>(0, file.size() - 4));
    m_modelEdit->setText(m_strModel);
    FillMacroList(m_strModel + QStringLiteral(".mac"));
}

// The macros of the model chosen before never belong to this one: the list is
// emptied first, so a model whose macros cannot be read offers none at all.
void CDlgInmatning::FillMacroList(const QString& macroDatabasePath) {
    m_macroBox->clear();
    const QString missing =
        QStringLiteral("Filen %1 saknas.\nKontrollera att rätt modellfil är vald")
            .arg(macroDatabasePath);
    if (!QFileInfo::exists(macroDatabasePath)) {
        m_messenger.ShowWarning(missing);
        return;
    }
    QList<CMacroDatabase::Macro> macros;
    try {
        macros = ReadMacros(macroDatabasePath);
    } catch (const CDatabaseError& e) {
        m_messenger.ShowWarning(
            ClassifyFault(e) == DatabaseFault::NotADatabase
                ? QStringLiteral("Filen %1 är ingen makrodatabas.\nKontrollera att rätt "
                                 "modellfil är vald")
                      .arg(macroDatabasePath)
                : QStringLiteral("Makrolistan kunde inte läsas ur %1.\n%2")
                      .arg(macroDatabasePath, e.ErrorText()));
        return;
    }
    SortAsSwedish(macros);
    for (const CMacroDatabase::Macro& macro : macros)
        m_macroBox->addItem(macro.name, macro.key);
    m_macroBox->setCurrentIndex(-1);
}

void CDlgInmatning::SelectMacro(const QString& name) {
    m_macroBox->setCurrentIndex(
        m_macroBox->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

void CDlgInmatning::accept() {
    m_strModel = m_modelEdit->text();
    if (m_macroBox->currentIndex() < 0) {
        m_messenger.ShowMessage(QStringLiteral("Du måste välja ett makro!"));
        return;
    }
    if (m_nKind == NoKind) {
        m_messenger.ShowMessage(QStringLiteral("Du måste ange en tid!"));
        return;
    }
    CMaskEdit* timeField = ChosenTimeField();
    if (!timeField->IsComplete()) {
        m_messenger.ShowMessage(QStringLiteral("Du måste ange en fullständig tid!"));
        timeField->setFocus();
        return;
    }
    m_strMacro = m_macroBox->currentText();
    m_strTid = ComposeTid();
    done(ResultOk);
}

void CDlgInmatning::reject() {
    done(ResultCancel);
}

// Only the field of the chosen kind counts; the others keep what was typed.
CMaskEdit* CDlgInmatning::ChosenTimeField() const {
    switch (m_nKind) {
    case AbsoluteKind:
        return m_absoluteEdit;
    case CyclicKind:
        return m_cyclicEdit;
    case WeekdayKind:
        return m_weekdayTimeEdit;
    case NoKind:
        break;
    }
    return nullptr;
}

QString CDlgInmatning::ComposeTid() const {
    const QString time = ChosenTimeField()->text();
    if (m_nKind == WeekdayKind)
        return QStringLiteral("%1-%2").arg(m_weekdayBox->currentData().toInt()).arg(time);
    return time;
}
