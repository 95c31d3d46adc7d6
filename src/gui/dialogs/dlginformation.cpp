#include "dialogs/dlginformation.h"

#include "schedule/rowinformation.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace {
// The value fields are as wide as 281 dialog units, a quarter character each,
// so that a full model path fits.
constexpr int kValueWidthQuarterChars = 281;
} // namespace

CDlgInformation::CDlgInformation(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Information"));
    auto* layout = new QGridLayout(this);
    m_model = AddLine(layout, 0, QStringLiteral("Modell:"), QStringLiteral("model"));
    m_database = AddLine(layout, 1, QStringLiteral("Kopplad databas:"), QStringLiteral("database"));
    m_timeLeft =
        AddLine(layout, 2, QStringLiteral("Tid kvar till beräkning:"), QStringLiteral("timeLeft"));
    m_lastCalculation =
        AddLine(layout, 3, QStringLiteral("Senaste beräkning:"), QStringLiteral("lastCalculation"));
    m_measurement =
        AddLine(layout, 4, QStringLiteral("Mätdata hämtad:"), QStringLiteral("measurement"));
    m_lastRun = AddLine(layout, 5, QStringLiteral("Senaste körning:"), QStringLiteral("lastRun"));

    auto* close = new QPushButton(QStringLiteral("Stäng"), this);
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(close, 6, 1, Qt::AlignRight);
    layout->setColumnStretch(1, 1);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CDlgInformation::SetInformation(const CRowInformation& information) {
    m_model->setText(information.model);
    m_database->setText(information.database);
    m_timeLeft->setText(information.timeLeft);
    m_lastCalculation->setText(information.lastCalculation);
    m_measurement->setText(information.measurement);
    m_lastRun->setText(information.lastRun);
}

// Values are plain text: a path with "<" in it must show as written.
QLabel* CDlgInformation::AddLine(QGridLayout* layout, int row, const QString& caption,
                                 const QString& name) {
    layout->addWidget(new QLabel(caption, this), row, 0, Qt::AlignRight);
    auto* value = new QLabel(this);
    value->setObjectName(name);
    value->setTextFormat(Qt::PlainText);
    value->setMinimumWidth(kValueWidthQuarterChars * fontMetrics().averageCharWidth() / 4);
    layout->addWidget(value, row, 1);
    return value;
}
