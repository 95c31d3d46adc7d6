#pragma once

#include <QDialog>

class CMessenger;
class QLabel;
class QListWidget;

// Shows a text file read-only, one line per entry, scrolled to its end: the
// monitor's log or a model's log.
class CDlgVisaLogg : public QDialog {
    Q_OBJECT
public:
    // Result codes of Run().
    enum Result { ResultNotShown = 1, ResultClosed = 2 };
    // Whose log it is decides what a missing file means: a model writes its log only
    // once it has run.
    enum class LogKind { MonitorLog, ModelLog, RunOutput };
    // Of a longer file only the whole lines within its last this many bytes are
    // shown, so that even a huge log opens at once.
    static constexpr qint64 kShownBytes = 4 * 1024 * 1024;

    CDlgVisaLogg(QString logPath, LogKind kind, CMessenger& messenger, QWidget* parent = nullptr);

    // Shows the file modally. A file that is missing or cannot be read is
    // reported instead, and ResultNotShown returned without showing the dialog.
    int Run();

    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    bool FillList();
    void ReportMissingFile();

    const QString m_strLogPath;
    const LogKind m_kind;
    CMessenger& m_messenger;
    QListWidget* m_lbLines = nullptr;
    QLabel* m_shortenedNote = nullptr;
};
