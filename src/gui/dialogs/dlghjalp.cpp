#include "dialogs/dlghjalp.h"

#include "widgets/screenroom.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

CDlgHjalp::CDlgHjalp(QWidget* parent) : QDialog(parent), m_browser(new QTextBrowser(this)) {
    setWindowTitle(QStringLiteral("KvarnixMonitor - Hjälp"));
    m_browser->setObjectName(QStringLiteral("manual"));
    m_browser->setSource(QUrl(QStringLiteral("qrc:/hjalp.html")));
    auto* close = new QPushButton(QStringLiteral("Stäng"), this);
    close->setObjectName(QStringLiteral("closeButton"));
    connect(close, &QPushButton::clicked, this, &QDialog::close);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_browser);
    layout->addLayout(buttons);
    // Within an 800 x 600 screen, title bar included.
    ResizeWithinScreen(*this, QSize(640, 540));
}
