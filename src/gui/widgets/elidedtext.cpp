#include "widgets/elidedtext.h"

#include <QFontMetrics>
#include <QHelpEvent>
#include <QToolTip>

namespace {

const QString kEllipsis = QStringLiteral("…");

// The folders are cut in the middle to the room the name leaves; when not even "…/" and
// the name fit, the whole path is cut in the middle instead.
QString CutPath(const QString& path, const QFontMetrics& metrics, int width) {
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash < 0)
        return metrics.elidedText(path, Qt::ElideMiddle, width);
    const QString name = path.mid(slash);
    const int folderRoom = width - metrics.horizontalAdvance(name);
    if (folderRoom < metrics.horizontalAdvance(kEllipsis))
        return metrics.elidedText(path, Qt::ElideMiddle, width);
    return metrics.elidedText(path.left(slash), Qt::ElideMiddle, folderRoom) + name;
}

} // namespace

QString CutToWidth(const QString& text, TextCut cut, const QFontMetrics& metrics, int width) {
    if (metrics.horizontalAdvance(text) <= width)
        return text;
    switch (cut) {
    case TextCut::AtEnd:
        return metrics.elidedText(text, Qt::ElideRight, width);
    case TextCut::InMiddle:
        return metrics.elidedText(text, Qt::ElideMiddle, width);
    case TextCut::InPath:
        return CutPath(text, metrics, width);
    }
    return text;
}

void ShowWholeTextTip(const QHelpEvent& event, QWidget* widget, const QString& shown,
                      const QString& whole, const QString& note) {
    QStringList parts;
    if (shown != whole)
        parts << whole;
    if (!note.isEmpty())
        parts << note;
    if (parts.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(event.globalPos(), parts.join(u'\n'), widget);
}
