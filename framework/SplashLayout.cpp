#include "framework/SplashLayout.h"

#include "platform/system/FileFunctions.h"
#include "platform/system/PathIgnoringCase.h"

#include <cmath>

namespace SplashLayout {

IconRow LayoutIconRow(qint16 count, double pictureHeight, double innerWidth, double iconWidth,
                      double captionHeight)
{
    IconRow row;
    row.WindowHeight = pictureHeight + RowHeight;
    if (count < 1) {
        row.WindowHeight = pictureHeight;
        return row;
    }
    // Whole twips, ties to even (the default rounding mode).
    row.SlotWidth = std::nearbyint((innerWidth - 120) / count);
    const double innerHeight = row.WindowHeight;
    for (int i = 1; i <= count; ++i) {
        IconPlace place;
        place.IconLeft = 60 + (i - 1) * row.SlotWidth + (row.SlotWidth - iconWidth) / 2;
        place.IconTop = innerHeight - 90 - 480 - captionHeight;
        place.CaptionWidth = row.SlotWidth - 60;
        place.CaptionLeft = place.IconLeft + (iconWidth - place.CaptionWidth) / 2;
        place.CaptionTop = innerHeight - 90 - captionHeight;
        row.Places.append(place);
    }
    return row;
}

double TwipsPerPixel(double logicalDpi)
{
    return logicalDpi > 0 ? 1440.0 / logicalDpi : 15.0;
}

int TwipsToPixels(double twips, double logicalDpi)
{
    return int(std::lround(twips / TwipsPerPixel(logicalDpi)));
}

QString FindLogoFile(const QString& programFolder, const QString& exeTitle)
{
    const QString parent = FileFunctions::instance().GetParentFolder(programFolder);
    const std::pair<QString, QString> candidates[] = {
        {programFolder, exeTitle + ".bmp"},          {programFolder, QStringLiteral("tools.bmp")},
        {programFolder, QStringLiteral("logo.bmp")}, {parent, QStringLiteral("tools.bmp")},
        {parent, QStringLiteral("logo.bmp")},
    };
    for (const auto& [folder, name] : candidates) {
        const QString found = PathIgnoringCase::FindFile(folder, name);
        if (!found.isEmpty()) {
            return found;
        }
    }
    return QString();
}

std::optional<QString> PlatformCaption(const OSVersionInfo& version)
{
    const qint32 major = version.MajorVersion;
    const qint32 minor = version.MinorVersion;
    if (version.PlatformId == 1) {
        if (minor == 0) {
            return QStringLiteral("Windows 95");
        }
        if (minor == 10) {
            return QStringLiteral("Windows 98");
        }
    } else if (version.PlatformId == 2) {
        switch (major) {
        case 3:
            return QStringLiteral("Windows NT v3.") + QString::number(minor);
        case 4:
            return QStringLiteral("Windows NT v") + QString::number(major);
        case 5:
            return minor == 0 ? QStringLiteral("Windows 2000") : QStringLiteral("Windows XP/2003");
        case 6:
            return minor == 0 ? QStringLiteral("Windows Vista") : QStringLiteral("Windows 7");
        default:
            break;
        }
    }
    return std::nullopt;
}

std::optional<QString> ServicePackCaption(const OSVersionInfo& version)
{
    QString text = version.CSDVersion.left(128);
    const qsizetype nul = text.indexOf(QChar(0));
    if (nul >= 0) {
        text.truncate(nul);
    }
    if (text.isEmpty()) {
        return std::nullopt;
    }
    const qsizetype comma = text.indexOf(u',');
    return comma < 0 ? text : text.left(comma);
}

} // namespace SplashLayout
