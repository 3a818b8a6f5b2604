#pragma once

class QAbstractButton;
class QGroupBox;

// Checks that a check box or option button heads its frame: it lies across the frame's drawn
// top edge, within the frame's width, drawn over the frame, and covers none of the frame's
// controls. Both must be shown and laid out. Reports through GoogleTest.
void ExpectHeadingOnTopEdge(const QAbstractButton* heading, const QGroupBox* frame);
