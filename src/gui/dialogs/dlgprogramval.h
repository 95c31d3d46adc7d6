#pragma once

#include <QDialog>
#include <functional>
#include <optional>

struct CMonitorSettings;
class CFileChooser;
class CMessenger;
class CScheduleCommands;
struct CStoredSwitches;
class QCheckBox;
class QComboBox;
class QLineEdit;

// "Inställningar": shows the program settings and, on OK, stores them in the
// monitor database and in the running program's settings.
class CDlgProgramVal : public QDialog {
    Q_OBJECT
public:
    // Result codes of Run().
    enum Result { ResultOk = 1, ResultCancel = 2 };

    // loginStep asks for the operator's name and writes the lock file; false
    // when the operator cancelled.
    CDlgProgramVal(CMonitorSettings& settings, const CScheduleCommands& schedule,
                   CMessenger& messenger, CFileChooser& fileChooser,
                   std::function<bool()> loginStep, QWidget* parent = nullptr);

    // Shows the dialog modally. ResultCancel without showing it when the
    // database cannot be read (the operator has been told why).
    int Run();

    void accept() override;
    void reject() override;

private:
    void BuildControls();
    QLineEdit* AddNumberField(const QString& objectName);
    bool LoadSettings();
    void ShowSettings(const CStoredSwitches& stored);
    void BrowseProgram();
    void ShowProgramPath(const QString& path);
    struct Numbers {
        int hideMinutes;
        int logDays;
        int pidDays;
    };
    std::optional<Numbers> ReadNumbers();
    bool FailureCommandStartable();
    bool ClusterReachable();
    void ShowWhereCalculationsStart(bool onCluster);
    std::optional<int> ReadNumber(QLineEdit* field, const QString& fieldName);
    void StoreSettings(const Numbers& numbers);
    void RepaintMainWindow();

    CMonitorSettings& m_settings;
    const CScheduleCommands& m_schedule;
    CMessenger& m_messenger;
    CFileChooser& m_fileChooser;
    const std::function<bool()> m_loginStep;

    QCheckBox* m_loginCheck = nullptr;
    QCheckBox* m_saveCheck = nullptr;
    QCheckBox* m_driftCheck = nullptr;
    QCheckBox* m_hideCheck = nullptr;
    QLineEdit* m_hideMinutesEdit = nullptr;
    QLineEdit* m_logDaysEdit = nullptr;
    QLineEdit* m_pidDaysEdit = nullptr;
    QLineEdit* m_programPathEdit = nullptr;
    QLineEdit* m_failureCommandEdit = nullptr;
    QComboBox* m_startOnCombo = nullptr;
    QLineEdit* m_partitionEdit = nullptr;
    QLineEdit* m_slurmOptionsEdit = nullptr;

    QString m_strProgramPath;
    bool m_bStoredLoginCheck = false;
};
