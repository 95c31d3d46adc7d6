#pragma once

#include <QDialog>

struct CRowInformation;
class QGridLayout;
class QLabel;

// Shows what is known about one schedule row; display only, nothing is
// refreshed while it is open.
class CDlgInformation : public QDialog {
    Q_OBJECT
public:
    explicit CDlgInformation(QWidget* parent = nullptr);

    void SetInformation(const CRowInformation& information);

private:
    QLabel* AddLine(QGridLayout* layout, int row, const QString& caption, const QString& name);

    QLabel* m_model;
    QLabel* m_database;
    QLabel* m_timeLeft;
    QLabel* m_lastCalculation;
    QLabel* m_measurement;
    QLabel* m_lastRun;
};
