#include "statusbarw.h"

#include "app/monitorsettings.h"

#include <QFileInfo>
#include <QPainter>
#include <functional>

namespace {

const QString kIdleText = QStringLiteral("Klar");

// A pane painted from the settings as they are when it paints.
class CPaintedPane : public QWidget {
public:
    using Content = std::function<CStatusBarW::PaneContent()>;
    CPaintedPane(Content content, QWidget* parent)
        : QWidget(parent), m_content(std::move(content)) {
        setFixedWidth(CStatusBarW::kPaneWidth);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const CStatusBarW::PaneContent content = m_content();
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

CStatusBarW::CStatusBarW(const CMonitorSettings& settings, QWidget* parent)
    : QStatusBar(parent), m_settings(settings) {
    setMinimumWidth(kMessageWidth + 2 * kPaneWidth);
    addPermanentWidget(new CPaintedPane([this] { return PermissionPane(m_settings); }, this));
    addPermanentWidget(new CPaintedPane([this] { return ProgramPane(m_settings); }, this));
    connect(this, &QStatusBar::messageChanged, this, [this](const QString& message) {
        if (message.isEmpty())
            showMessage(IdleText());
    });
    showMessage(kIdleText);
}

void CStatusBarW::SetIdleText(const QString& text) {
    const bool idle = currentMessage() == IdleText();
    m_idleText = text;
    if (idle)
        showMessage(IdleText());
}

QString CStatusBarW::IdleText() const {
    return m_idleText.isEmpty() ? kIdleText : m_idleText;
}

CStatusBarW::PaneContent CStatusBarW::PermissionPane(const CMonitorSettings& settings) {
    if (settings.save != 0)
        return {QStringLiteral("Ger tillstånd att skriva i IP21-databasen"), QColor(0, 0, 0),
                QPalette().color(QPalette::Active, QPalette::Window)};
    return {QStringLiteral("Ger inte tillstånd att skriva i IP21-databasen"), QColor(0, 0, 255),
            QColor(255, 0, 0)};
}

CStatusBarW::PaneContent CStatusBarW::ProgramPane(const CMonitorSettings& settings) {
    if (settings.drift == 0)
        return {QStringLiteral("Avstängd"), {}, {}};
    return {QFileInfo(settings.programPath).fileName(), {}, {}};
}
