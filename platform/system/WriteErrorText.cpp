#include "platform/system/WriteErrorText.h"

#include <QFileDevice>
#include <cerrno>
#include <cstring>

QString WriteErrorText(const QFileDevice& file)
{
    const int error = errno;
    return error != 0 ? QString::fromLocal8Bit(std::strerror(error)) : file.errorString();
}
