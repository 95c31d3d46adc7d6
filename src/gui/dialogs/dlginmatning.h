#pragma once

#include <QDialog>
#include <optional>

class CClock;
class CScheduleCommands;
class CFileChooser;
class CMaskEdit;
class CMessenger;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

// Creates a schedule row or changes one: model file, start macro and start time
// of one of three kinds. It stores nothing itself; the caller stores the result.
class CDlgInmatning : public QDialog {
    Q_OBJECT
public:
    // Result codes of Run().
    enum Result {
        ResultOk = 1,
        ResultCancel = 2,
        // Change mode: the model's macro database is missing, and the operator
        // chose to keep the row (-1) or to have it deleted (-2).
        ResultKeepRow = -1,
        ResultDeleteRow = -2,
    };
    enum Kind { NoKind = -1, AbsoluteKind = 0, CyclicKind = 1, WeekdayKind = 2 };

    // key -1 opens the dialog for a new row; any other key changes that row, read
    // from the stored schedule.
    CDlgInmatning(int key, const CScheduleCommands& schedule, CMessenger& messenger,
                  CFileChooser& fileChooser, const CClock& clock, QWidget* parent = nullptr);

    // Shows the dialog modally and returns one of the result codes.
    int Run();

    QString Tid() const { return m_strTid; }
    QString Model() const { return m_strModel; }
    QString Macro() const { return m_strMacro; }
    int Implemented() const { return m_nImplemented; }
    // The longest a run may take, in minutes; 0 for no limit.
    int TimeLimit() const;

    void accept() override;
    void reject() override;

private:
    void BuildControls();
    QWidget* BuildModelGroup();
    QWidget* BuildStartTimeGroup();
    QWidget* BuildTimeLimitRow();
    void InstallMasks();
    void FillWeekdays();
    std::optional<int> LoadRow();
    void ShowStoredStartTime(const QString& tid);
    void ChooseKind(Kind kind);
    void BrowseModel();
    void FillMacroList(const QString& macroDatabasePath);
    void SelectMacro(const QString& name);
    CMaskEdit* ChosenTimeField() const;
    QString ComposeTid() const;

    const int m_nKey;
    const CScheduleCommands& m_schedule;
    CMessenger& m_messenger;
    CFileChooser& m_fileChooser;
    const CClock& m_clock;

    QLineEdit* m_modelEdit = nullptr;
    QPushButton* m_browseButton = nullptr;
    QComboBox* m_macroBox = nullptr;
    QRadioButton* m_absoluteButton = nullptr;
    QRadioButton* m_weekdayButton = nullptr;
    QRadioButton* m_cyclicButton = nullptr;
    CMaskEdit* m_absoluteEdit = nullptr;
    CMaskEdit* m_cyclicEdit = nullptr;
    QLabel* m_cyclicUnit = nullptr;
    QComboBox* m_weekdayBox = nullptr;
    CMaskEdit* m_weekdayTimeEdit = nullptr;
    QLabel* m_weekdayUnit = nullptr;
    QSpinBox* m_timeLimitBox = nullptr;

    Kind m_nKind = NoKind;
    int m_nImplemented = 0;
    QString m_strTid;
    QString m_strModel;
    QString m_strMacro;
};
