#include "widgets/screenroom.h"

#include <QScreen>
#include <QWidget>

namespace {
// What a window manager's frame and title bar usually take, in the program's own pixels.
const QSize kFrameAllowance(16, 48);
} // namespace

QSize RoomOnScreen(const QWidget& window) {
    return window.screen()->availableGeometry().size() - kFrameAllowance;
}

void ResizeWithinScreen(QWidget& window, const QSize& preferred) {
    window.resize(preferred.boundedTo(RoomOnScreen(window)));
}
