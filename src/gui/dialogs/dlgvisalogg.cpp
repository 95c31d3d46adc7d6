#include "dialogs/dlgvisalogg.h"

#include "base/messenger.h"
#include "log/monitorlog.h"
#include "widgets/screenroom.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
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
QString LineText(QByteArrayView line) {
    if (line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}

QStringList SplitLines(const QByteArray& bytes) {
    QStringList lines;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        lines << LineText(QByteArrayView(bytes).sliced(start, end - start));
        start = end + 1;
    }
    return lines;
}

struct LogTail {
    QStringList lines;
    bool shortened = false;
};

// The whole file, or of a longer one the whole lines within its last
// CDlgVisaLogg::kShownBytes. Nothing when the file cannot be opened or read;
// error tells why.
std::optional<LogTail> ReadTail(const QString& path, QString& error) {
    // One byte before the part shown tells whether that part begins a line.
    std::optional<QByteArray> bytes =
        CMonitorLog::ReadTail(path, CDlgVisaLogg::kShownBytes + 1, error);
    if (!bytes)
        return std::nullopt;
    const bool shortened = bytes->size() > CDlgVisaLogg::kShownBytes;
    if (shortened)
        bytes->remove(0, bytes->indexOf('\n') + 1);
    return LogTail{SplitLines(*bytes), shortened};
}

} // namespace

CDlgVisaLogg::CDlgVisaLogg(QString logPath, LogKind kind, CMessenger& messenger, QWidget* parent)
    : QDialog(parent), m_strLogPath(std::move(logPath)), m_kind(kind), m_messenger(messenger) {
    setWindowTitle(m_strLogPath);
    BuildControls();
    ResizeWithinScreen(*this, QSize(630, 528));
}

void CDlgVisaLogg::BuildControls() {
    m_lbLines = new QListWidget(this);
    m_lbLines->setObjectName(QStringLiteral("lines"));
    m_lbLines->setSelectionMode(QAbstractItemView::SingleSelection);
    m_lbLines->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Per pixel, so the last line can sit exactly at the bottom edge.
    m_lbLines->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_lbLines->setUniformItemSizes(true);
    m_shortenedNote = new QLabel(QStringLiteral("Loggen är lång: bara de sista %1 MB visas, "
                                                "tidigare rader visas inte.")
                                     .arg(kShownBytes / (1024 * 1024)),
                                 this);
    m_shortenedNote->setObjectName(QStringLiteral("shortenedNote"));
    m_shortenedNote->hide();
    auto* close = new QPushButton(QStringLiteral("Stäng"), this);
    close->setObjectName(QStringLiteral("closeButton"));
    connect(close, &QPushButton::clicked, this, &CDlgVisaLogg::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_shortenedNote);
    layout->addWidget(m_lbLines);
    layout->addLayout(buttons);
}

int CDlgVisaLogg::Run() {
    if (!QFileInfo::exists(m_strLogPath)) {
        ReportMissingFile();
        return ResultNotShown;
    }
    if (!FillList())
        return ResultNotShown;
    return exec();
}

void CDlgVisaLogg::ReportMissingFile() {
    if (m_kind == LogKind::ModelLog)
        m_messenger.ShowMessage(QStringLiteral("Modellen har ingen logg än"));
    else if (m_kind == LogKind::RunOutput)
        m_messenger.ShowMessage(
            QStringLiteral("Körningens utskrift finns inte längre (%1).").arg(m_strLogPath));
    else
        m_messenger.ShowWarning(QStringLiteral("Felaktig sökväg till logfilen"));
}

// The file may still vanish or refuse to be read after it was found.
bool CDlgVisaLogg::FillList() {
    QString error;
    {
        const CWaitCursor waitCursor;
        if (const std::optional<LogTail> tail = ReadTail(m_strLogPath, error)) {
            m_lbLines->addItems(tail->lines);
            m_shortenedNote->setVisible(tail->shortened);
            return true;
        }
    }
    m_messenger.ShowMessage(
        QStringLiteral("Loggfilen %1 kunde inte läsas: %2").arg(m_strLogPath, error));
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
