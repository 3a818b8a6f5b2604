#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>

// Text of files that may come from a Windows installation: UTF-8 where the bytes are valid
// UTF-8, Windows-1252 otherwise.
class TextFileDecoder
{
public:
    // A UTF-8 byte-order mark is skipped.
    static QString Decode(const QByteArray& bytes);
    static QString FromWindows1252(const QByteArray& bytes);
    static QChar Windows1252Char(uchar byte);
};
