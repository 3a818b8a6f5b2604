#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

// Every entry of a .zip with its bytes; empty when the archive cannot be read.
QMap<QString, QByteArray> ZipEntries(const QString& path);
