#include "dlgvisalogg.h"

#include "app/messenger.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <optional>

namespace {

// The wait cursor for as long as the object lives, however the scope is left.
class CWaitCursor {
public:
    CWaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~CWaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};

// A line without its line end, Windows line ends included. Bytes that are not
// UTF-8 become replacement characters.
QString LineText(QByteArray line) {
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}

// Nothing when the file cannot be opened or read; its errorString() tells why.
std::optional<QStringList> ReadLines(QFile& file) {
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QStringList lines;
    while (!file.atEnd()) {
        lines << LineText(file.readLine());
        if (file.error() != QFileDevice::NoError)
            return std::nullopt;
    }
    return lines;
}

} // namespace

CDlgVisaLogg::CDlgVisaLogg(QString logPath, CMessenger& messenger, QWidget* parent)
    : QDialog(parent), m_strLogPath(std::move(logPath)), m_messenger(messenger) {
    setWindowTitle(m_strLogPath);
    BuildControls();
    resize(630, 528);
}

void CDlgVisaLogg::BuildControls() {
    m_lbLines = new QListWidget(this);
    m_lbLines->setObjectName(QStringLiteral("lines"));
    m_lbLines->setSelectionMode(QAbstractItemView::SingleSelection);
    m_lbLines->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Per pixel, so the last line can sit exactly at the bottom edge.
    m_lbLines->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_lbLines->setUniformItemSizes(true);
    auto* close = new QPushButton(QStringLiteral("Stäng"), this);
    close->setObjectName(QStringLiteral("closeButton"));
    connect(close, &QPushButton::clicked, this, &CDlgVisaLogg::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_lbLines);
    layout->addLayout(buttons);
}

int CDlgVisaLogg::Run() {
    if (!QFileInfo::exists(m_strLogPath)) {
        m_messenger.ShowWarning(QStringLiteral("Felaktig sökväg till logfilen"));
        return ResultNotShown;
    }
    if (!FillList())
        return ResultNotShown;
    return exec();
}

// The file may still vanish or refuse to be read after it was found.
bool CDlgVisaLogg::FillList() {
    QFile file(m_strLogPath);
    {
        const CWaitCursor waitCursor;
        if (const std::optional<QStringList> lines = ReadLines(file)) {
            m_lbLines->addItems(*lines);
            return true;
        }
    }
    m_messenger.ShowMessage(
        QStringLiteral("Loggfilen %1 kunde inte läsas: %2").arg(m_strLogPath, file.errorString()));
    return false;
}

void CDlgVisaLogg::reject() {
    done(ResultClosed);
}

// Only a list that has its final size knows where its bottom is.
void CDlgVisaLogg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    m_lbLines->scrollToBottom();
}
