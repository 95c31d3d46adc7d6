#include "mainwindow/mainstatusbar.h"

#include "settings/monitorsettings.h"
#include "widgets/elidedlabel.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QPainter>
#include <functional>

namespace {

const QString kIdleText = QStringLiteral("Klar");

// A pane painted from the settings as they are when it paints.
class CPaintedPane : public QWidget {
public:
    using Content = std::function<CMainStatusBar::PaneContent()>;
    CPaintedPane(Content content, TextCut cut, QWidget* parent)
        : QWidget(parent), m_content(std::move(content)), m_cut(cut) {
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        setMaximumWidth(CMainStatusBar::kPaneWidth);
    }

    QSize sizeHint() const override { return {CMainStatusBar::kPaneWidth, fontMetrics().height()}; }
    // Room for the "…" and a letter or two beside it.
    QSize minimumSizeHint() const override {
        return {fontMetrics().horizontalAdvance(QStringLiteral("W…W")), fontMetrics().height()};
    }

protected:
    bool event(QEvent* event) override {
        if (event->type() != QEvent::ToolTip)
            return QWidget::event(event);
        const QString text = m_content().text;
        ShowWholeTextTip(*static_cast<QHelpEvent*>(event), this, Shown(text), text);
        return true;
    }

    void paintEvent(QPaintEvent*) override {
        const CMainStatusBar::PaneContent content = m_content();
        QPainter painter(this);
        if (content.background.isValid())
            painter.fillRect(rect(), content.background);
        if (content.textColor.isValid())
            painter.setPen(content.textColor);
        // Centred across, drawn from the top, as one line.
        painter.drawText(rect(), Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine,
                         Shown(content.text));
    }

private:
    QString Shown(const QString& text) const {
        return CutToWidth(text, m_cut, fontMetrics(), width());
    }

    Content m_content;
    const TextCut m_cut;
};

} // namespace

// The three panes share one row of their own: the status bar's own row would let the
// message give up all its room before the panes give up any.
CMainStatusBar::CMainStatusBar(const CMonitorSettings& settings, QWidget* parent)
    : QStatusBar(parent), m_settings(settings),
      m_message(new CElidedLabel(TextCut::AtEnd, kMessageWidth, this)) {
    m_message->setObjectName(QStringLiteral("message"));
    m_message->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* panes = new QWidget(this);
    auto* row = new QHBoxLayout(panes);
    row->setContentsMargins(QMargins());
    row->addWidget(m_message);
    auto* permission =
        new CPaintedPane([this] { return PermissionPane(m_settings); }, TextCut::AtEnd, panes);
    // The program's file name keeps its extension.
    auto* program =
        new CPaintedPane([this] { return ProgramPane(m_settings); }, TextCut::InMiddle, panes);
    permission->setObjectName(QStringLiteral("permissionPane"));
    program->setObjectName(QStringLiteral("programPane"));
    row->addWidget(permission);
    row->addWidget(program);
    addWidget(panes, 1);
    m_noteTimer.setSingleShot(true);
    m_noteTimer.setInterval(kNoteMs);
    connect(&m_noteTimer, &QTimer::timeout, this, [this] {
        m_note.clear();
        ShowMessageText();
    });
    ShowMessageText();
}

void CMainStatusBar::ShowSettings() {
    for (QWidget* pane : findChildren<CPaintedPane*>())
        pane->update();
}

void CMainStatusBar::SetIdleText(const QString& text) {
    m_idleText = text;
    ShowMessageText();
}

QString CMainStatusBar::IdleText() const {
    return m_idleText.isEmpty() ? kIdleText : m_idleText;
}

void CMainStatusBar::ShowPrompt(const QString& prompt) {
    m_prompt = prompt;
    ShowMessageText();
}

void CMainStatusBar::ShowNote(const QString& note) {
    m_note = note;
    m_noteTimer.start();
    ShowMessageText();
}

QString CMainStatusBar::MessageText() const {
    for (const QString* text : {&m_prompt, &m_note})
        if (!text->isEmpty())
            return *text;
    return IdleText();
}

QString CMainStatusBar::ShownMessageText() const {
    return m_message->ShownText();
}

void CMainStatusBar::ShowMessageText() {
    m_message->SetText(MessageText());
}

CMainStatusBar::PaneContent CMainStatusBar::PermissionPane(const CMonitorSettings& settings) {
    if (settings.mayWriteIp21 != 0)
        return {QStringLiteral("Ger tillstånd att skriva i IP21-databasen"), QColor(0, 0, 0),
                QPalette().color(QPalette::Active, QPalette::Window)};
    return {QStringLiteral("Ger inte tillstånd att skriva i IP21-databasen"), QColor(0, 0, 255),
            QColor(255, 0, 0)};
}

CMainStatusBar::PaneContent CMainStatusBar::ProgramPane(const CMonitorSettings& settings) {
    if (settings.schedulerOn == 0)
        return {QStringLiteral("Avstängd"), {}, {}};
    return {QFileInfo(settings.programPath).fileName(), {}, {}};
}
