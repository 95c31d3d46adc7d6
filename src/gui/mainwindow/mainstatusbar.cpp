#include "mainwindow/mainstatusbar.h"

#include "settings/monitorsettings.h"

#include <QFileInfo>
#include <QPainter>
#include <functional>

namespace {

const QString kIdleText = QStringLiteral("Klar");
// What the bar keeps free left of its message and between it and the first pane.
constexpr int kMessageMargin = 16;

// A pane painted from the settings as they are when it paints.
class CPaintedPane : public QWidget {
public:
    using Content = std::function<CMainStatusBar::PaneContent()>;
    CPaintedPane(Content content, QWidget* parent)
        : QWidget(parent), m_content(std::move(content)) {
        setFixedWidth(CMainStatusBar::kPaneWidth);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const CMainStatusBar::PaneContent content = m_content();
        QPainter painter(this);
        if (content.background.isValid())
            painter.fillRect(rect(), content.background);
        if (content.textColor.isValid())
            painter.setPen(content.textColor);
        // Centred across, drawn from the top, as one line.
        painter.drawText(rect(), Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine,
                         content.text);
    }

private:
    Content m_content;
};

} // namespace

CMainStatusBar::CMainStatusBar(const CMonitorSettings& settings, QWidget* parent)
    : QStatusBar(parent), m_settings(settings) {
    setMinimumWidth(kMessageWidth + 2 * kPaneWidth);
    m_permissionPane = new CPaintedPane([this] { return PermissionPane(m_settings); }, this);
    addPermanentWidget(m_permissionPane);
    addPermanentWidget(new CPaintedPane([this] { return ProgramPane(m_settings); }, this));
    connect(this, &QStatusBar::messageChanged, this, [this](const QString& message) {
        if (message.isEmpty())
            ShowIdleText();
    });
    ShowIdleText();
}

void CMainStatusBar::SetIdleText(const QString& text) {
    const bool idle = currentMessage() == m_shownIdleText;
    m_idleText = text;
    setToolTip(text);
    if (idle)
        ShowIdleText();
}

// The message has the room left of the painted panes, less the bar's own margin.
void CMainStatusBar::ShowIdleText() {
    const int panesAt = m_permissionPane->x();
    const int room = panesAt > kMessageMargin ? panesAt - kMessageMargin : kMessageWidth;
    m_shownIdleText = fontMetrics().elidedText(IdleText(), Qt::ElideRight, room);
    showMessage(m_shownIdleText);
}

void CMainStatusBar::resizeEvent(QResizeEvent* event) {
    QStatusBar::resizeEvent(event);
    if (currentMessage() == m_shownIdleText)
        ShowIdleText();
}

QString CMainStatusBar::IdleText() const {
    return m_idleText.isEmpty() ? kIdleText : m_idleText;
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
