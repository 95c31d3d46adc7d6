#pragma once

#include <QColor>
#include <QStatusBar>
#include <QTimer>

class CElidedLabel;
struct CMonitorSettings;

// The status bar: prompts, notes and the idle text "Klar" on the left, then two panes
// the program paints itself: the IP21 permission and the calculation program. On a
// narrow window all three give way alike; a text cut short is whole in its tooltip.
class CMainStatusBar : public QStatusBar {
    Q_OBJECT
public:
    struct PaneContent {
        QString text;
        QColor textColor;  // invalid: the colour the painter already has
        QColor background; // invalid: the pane is not filled
    };

    CMainStatusBar(const CMonitorSettings& settings, QWidget* parent = nullptr);

    // What the first pane shows whenever neither a prompt nor a note does: a problem the
    // operator should see, or "Klar" when the text is empty.
    void SetIdleText(const QString& text);
    QString IdleText() const;
    // The prompt of the menu entry or button pointed at; empty once none is.
    void ShowPrompt(const QString& prompt);
    // Shown for kNoteMs, or until a prompt covers it.
    void ShowNote(const QString& note);
    // What the first pane shows: whole, and as it fits.
    QString MessageText() const;
    QString ShownMessageText() const;

    // The panes are painted again from the settings as they are now.
    void ShowSettings();

    // What pane 1 (IP21 permission) and pane 2 (calculation program) show.
    static PaneContent PermissionPane(const CMonitorSettings& settings);
    static PaneContent ProgramPane(const CMonitorSettings& settings);

    // The widths the three panes have where the window leaves room for them.
    static constexpr int kPaneWidth = 300;
    static constexpr int kMessageWidth = 350;
    static constexpr int kNoteMs = 15000;

private:
    void ShowMessageText();

    const CMonitorSettings& m_settings;
    CElidedLabel* m_message;
    QString m_idleText;
    QString m_prompt;
    QString m_note;
    QTimer m_noteTimer;
};
