#pragma once

#include <QString>

class QFontMetrics;
class QHelpEvent;
class QWidget;

// Where a text that is too wide loses characters for the "…".
enum class TextCut {
    AtEnd,
    // In the middle: the start and the end stay, as for a file name's extension.
    InMiddle,
    // A path keeps its file name whole and loses the middle of its folders.
    InPath,
};

// The text as it fits into width pixels of the font.
QString CutToWidth(const QString& text, TextCut cut, const QFontMetrics& metrics, int width);

// A tooltip with the whole text where the shown one is cut, and note (if any) below it;
// no tooltip at all when neither has anything to add.
void ShowWholeTextTip(const QHelpEvent& event, QWidget* widget, const QString& shown,
                      const QString& whole, const QString& note = {});
