#include "dialogs/dlginformation.h"

#include "schedule/rowinformation.h"
#include "widgets/elidedlabel.h"
#include "widgets/screenroom.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

namespace {
// The value fields are as wide as 281 dialog units, a quarter character each.
constexpr int kValueWidthQuarterChars = 281;
} // namespace

CDlgInformation::CDlgInformation(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Information"));
    auto* layout = new QGridLayout(this);
    m_model =
        AddLine(layout, 0, QStringLiteral("Modell:"), QStringLiteral("model"), TextCut::InPath);
    m_database = AddLine(layout, 1, QStringLiteral("Kopplad databas:"), QStringLiteral("database"),
                         TextCut::InPath);
    m_timeLeft = AddLine(layout, 2, QStringLiteral("Tid kvar till beräkning:"),
                         QStringLiteral("timeLeft"), TextCut::AtEnd);
    m_lastCalculation = AddLine(layout, 3, QStringLiteral("Senaste beräkning:"),
                                QStringLiteral("lastCalculation"), TextCut::AtEnd);
    m_measurement = AddLine(layout, 4, QStringLiteral("Mätdata hämtad:"),
                            QStringLiteral("measurement"), TextCut::AtEnd);
    m_lastRun = AddLine(layout, 5, QStringLiteral("Senaste körning:"), QStringLiteral("lastRun"),
                        TextCut::AtEnd);

    auto* close = new QPushButton(QStringLiteral("Stäng"), this);
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(close, 6, 1, Qt::AlignRight);
    layout->setColumnStretch(1, 1);
    // Wider by hand shows more of a long text; the height has nothing more to show.
    setMaximumHeight(sizeHint().height());
}

void CDlgInformation::SetInformation(const CRowInformation& information) {
    m_model->SetText(information.model);
    m_database->SetText(information.database);
    m_timeLeft->SetText(information.timeLeft);
    m_lastCalculation->SetText(information.lastCalculation);
    m_measurement->SetText(information.measurement);
    m_lastRun->SetText(information.lastRun);
    WidenForTheTexts();
}

// As wide as the longest text asks, as far as the screen allows; a text still too long
// is cut, and whole in its tooltip.
void CDlgInformation::WidenForTheTexts() {
    int missing = 0;
    for (const CElidedLabel* value :
         {m_model, m_database, m_timeLeft, m_lastCalculation, m_measurement, m_lastRun})
        missing = std::max(missing, value->WholeTextWidth() - value->sizeHint().width());
    ResizeWithinScreen(*this, sizeHint() + QSize(missing, 0));
}

// Values are plain text, cut with "…" where the dialog is too narrow and whole in their
// tooltips: a long model path must not push "Stäng" off the screen.
CElidedLabel* CDlgInformation::AddLine(QGridLayout* layout, int row, const QString& caption,
                                       const QString& name, TextCut cut) {
    layout->addWidget(new QLabel(caption, this), row, 0, Qt::AlignRight);
    auto* value =
        new CElidedLabel(cut, kValueWidthQuarterChars * fontMetrics().averageCharWidth() / 4, this);
    value->setObjectName(name);
    layout->addWidget(value, row, 1);
    return value;
}
