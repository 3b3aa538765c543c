#include "ProgramIcon.h"

QIcon ProgramIcon() {
  QIcon Icon;
  for (int Size : {16, 22, 24, 32, 48, 64, 128, 256})
    Icon.addFile(QStringLiteral(":/icons/tobrinel-%1.png").arg(Size), QSize(Size, Size));
  return Icon;
}
