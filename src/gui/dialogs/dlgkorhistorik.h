#pragma once

#include <QDialog>

class CMessenger;
class CScheduleCommands;
class CRunHistoryModel;
class QLabel;
class QPushButton;
class QTableView;

// "Körhistorik": one row's runs, newest first, with the longest, shortest and
// median duration of its latest finished runs at the top.
class CDlgKorhistorik : public QDialog {
    Q_OBJECT
public:
    CDlgKorhistorik(const CScheduleCommands& schedule, int key, const QString& model,
                    CMessenger& messenger, QWidget* parent = nullptr);

    // Reads the history and shows the dialog modally; a file that cannot be
    // read is reported instead.
    int Run();

    QString StatisticsText() const;
    const CRunHistoryModel& Runs() const { return *m_runs; }

private:
    void ShowStatistics();
    QString SelectedOutput() const;
    void ShowOutput();

    const CScheduleCommands& m_schedule;
    const int m_key;
    CMessenger& m_messenger;
    CRunHistoryModel* m_runs;
    QLabel* m_statistics;
    QTableView* m_table;
    QPushButton* m_showOutput = nullptr;
};
