#pragma once

#include "widgets/elidedtext.h"

#include <QDialog>

class CElidedLabel;
struct CRowInformation;
class QGridLayout;

// Shows what is known about one schedule row; display only, nothing is
// refreshed while it is open.
class CDlgInformation : public QDialog {
    Q_OBJECT
public:
    explicit CDlgInformation(QWidget* parent = nullptr);

    void SetInformation(const CRowInformation& information);

private:
    CElidedLabel* AddLine(QGridLayout* layout, int row, const QString& caption, const QString& name,
                          TextCut cut);
    void WidenForTheTexts();

    CElidedLabel* m_model;
    CElidedLabel* m_database;
    CElidedLabel* m_timeLeft;
    CElidedLabel* m_lastCalculation;
    CElidedLabel* m_measurement;
    CElidedLabel* m_lastRun;
};
