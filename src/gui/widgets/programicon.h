#pragma once

#include <QIcon>

// The program's own picture, a mill wheel, drawn from the same SVG file that is
// installed for the desktop's menu.
QIcon ProgramIcon();
