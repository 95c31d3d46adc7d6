#include "application/messageboxmessenger.h"

#include <QGridLayout>
#include <QPushButton>
#include <QSpacerItem>
#include <QStyle>

namespace {

const QString kTitle = QStringLiteral("KvarnixMonitor");
// Title bar heights beside the title: the window manager's icon and buttons, square
// as the bar is high, with room to spare.
constexpr int kTitleBarButtonRoom = 5;

// A box only as wide as a short message leaves the window manager too little room for
// its title, which it then shows cut; the box is kept as wide as the title bar needs.
// Title bars use a bold font.
void KeepTitleWhole(QMessageBox& box) {
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid)
        return;
    QFont titleFont = box.font();
    titleFont.setBold(true);
    const int buttons =
        kTitleBarButtonRoom * box.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &box);
    const int width = QFontMetrics(titleFont).horizontalAdvance(box.windowTitle()) + buttons;
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Fixed, QSizePolicy::Minimum),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

} // namespace

void CMessageBoxMessenger::ShowMessage(const QString& text) {
    Show(QMessageBox::NoIcon, text);
}

void CMessageBoxMessenger::ShowWarning(const QString& text) {
    Show(QMessageBox::Warning, text);
}

bool CMessageBoxMessenger::AskYesNo(const QString& text) {
    QMessageBox box(QMessageBox::Question, kTitle, text, QMessageBox::Yes | QMessageBox::No,
                    m_parent);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Ja"));
    box.button(QMessageBox::No)->setText(QStringLiteral("Nej"));
    KeepTitleWhole(box);
    return box.exec() == QMessageBox::Yes;
}

void CMessageBoxMessenger::Show(QMessageBox::Icon icon, const QString& text) {
    QMessageBox box(icon, kTitle, text, QMessageBox::Ok, m_parent);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    KeepTitleWhole(box);
    box.exec();
}
