#include "dialogs/aboutdlg.h"

#include "widgets/programicon.h"

#include <QDialogButtonBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kIconSize = 32;

QFrame* EtchedLine(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

} // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Om KvarnixMonitor"));
    const QIcon icon = ProgramIcon();
    setWindowIcon(icon);
    auto* iconLabel = new QLabel(this);
    iconLabel->setObjectName(QStringLiteral("programIcon"));
    iconLabel->setPixmap(icon.pixmap(kIconSize, kIconSize));
    iconLabel->setAlignment(Qt::AlignTop);
    auto* picture = new QLabel(this);
    picture->setPixmap(Picture());
    auto* texts = new QVBoxLayout;
    texts->addWidget(new QLabel(QStringLiteral("KvarnixMonitor Version 2.0"), this));
    texts->addWidget(EtchedLine(this));
    texts->addWidget(
        new QLabel(QStringLiteral("Verktyg för automatisk beräkning av Kvarnixmodeller"), this));
    texts->addWidget(EtchedLine(this));
    auto* content = new QHBoxLayout;
    content->addWidget(iconLabel);
    content->addWidget(picture);
    content->addLayout(texts);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(content);
    layout->addWidget(buttons);
}

// A mill wheel over water, drawn rather than shipped as a bitmap.
QPixmap CAboutDlg::Picture() {
    QPixmap pixmap(149, 69);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(70, 130, 200));
    painter.setPen(Qt::NoPen);
    painter.drawRect(0, 52, 149, 17);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(110, 70, 30), 4));
    const QPointF hub(74, 34);
    painter.drawEllipse(hub, 28, 28);
    for (int spoke = 0; spoke < 8; ++spoke) {
        painter.save();
        painter.translate(hub);
        painter.rotate(spoke * 45.0);
        painter.drawLine(QPointF(0, 0), QPointF(0, -28));
        painter.restore();
    }
    return pixmap;
}
