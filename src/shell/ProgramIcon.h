#pragma once

#include <QIcon>

// The program's icon in every size it is drawn in (16 to 256 pixels).
QIcon ProgramIcon();
