#pragma once

#include <QString>

class QIcon;
class QWidget;

// Asks for one line of text with a frmGoodInputBox. Returns true when the operator cancelled
// (Result is then ""), false when the answer was confirmed (Result holds it).
// MaxLength 0: no limit. PasswordChar: when not empty, its first character masks the typing.
// Modal false: the box is shown modeless and waited for, the message loop running meanwhile.
// BackColour: a VB colour (0x00BBGGRR, or a system colour such as 0x8000000F).
bool GoodInputBox(const QString& Prompt, const QString& Title, const QString& Default,
                  qint32 MaxLength, QString& Result, QWidget* OwnerForm,
                  const QString& PasswordChar, bool Modal, qint32 BackColour, const QIcon& Icon);
