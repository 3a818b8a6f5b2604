#pragma once

#include <QColor>

// Colours as the program's callers pass them: 0x00BBGGRR, or a system colour 0x800000nn
// (0x05 window, 0x0F button face, ...) taken from the application's palette.
namespace VbColours {
constexpr quint32 Window = 0x80000005;
constexpr quint32 ButtonFace = 0x8000000F;

QColor ToColor(quint32 colour);
} // namespace VbColours
