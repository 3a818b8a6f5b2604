#pragma once

#include <QIcon>
#include <QPixmap>

// The program's own picture: a wave running into a cart slot, drawn at any size.
namespace ProgramIcon {
QPixmap Picture(int size);
// The picture at the sizes window managers and trays ask for.
QIcon Icon();
} // namespace ProgramIcon
