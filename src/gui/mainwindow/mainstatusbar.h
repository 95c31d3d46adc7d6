#pragma once

#include <QColor>
#include <QStatusBar>

struct CMonitorSettings;

// The status bar: prompts and the idle text "Klar" on the left, then two panes
// the program paints itself: the IP21 permission and the calculation program.
class CMainStatusBar : public QStatusBar {
    Q_OBJECT
public:
    struct PaneContent {
        QString text;
        QColor textColor;  // invalid: the colour the painter already has
        QColor background; // invalid: the pane is not filled
    };

    CMainStatusBar(const CMonitorSettings& settings, QWidget* parent = nullptr);

    // What the first pane shows whenever no prompt does: a problem the operator
    // should see, or "Klar" when the text is empty. A text longer than the pane
    // is cut with "…" there; the pane's tooltip holds it whole.
    void SetIdleText(const QString& text);
    QString IdleText() const;

    // What pane 1 (IP21 permission) and pane 2 (calculation program) show.
    static PaneContent PermissionPane(const CMonitorSettings& settings);
    static PaneContent ProgramPane(const CMonitorSettings& settings);

    static constexpr int kPaneWidth = 300;
    static constexpr int kMessageWidth = 350;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void ShowIdleText();

    const CMonitorSettings& m_settings;
    QWidget* m_permissionPane;
    QString m_idleText;
    // The idle text as the pane shows it, cut to its width.
    QString m_shownIdleText;
};
