#pragma once

#include <QSize>

class QWidget;

// The largest a window may be on its screen with its frame and title bar still in view.
QSize RoomOnScreen(const QWidget& window);
// Resizes the window to preferred, or to less where its screen has less room.
void ResizeWithinScreen(QWidget& window, const QSize& preferred);
