#pragma once

#include "platform/system/SystemInfoFunctions.h"

#include <QList>
#include <QString>
#include <optional>

// The splash window's arithmetic, kept apart from the window so that it can be checked
// without one. Lengths are twips: 1,440 per inch at the screen's logical DPI.
namespace SplashLayout {

// The row of step icons lives in this band under the picture.
constexpr double RowHeight = 1200;

struct IconPlace
{
    double IconLeft = 0;
    double IconTop = 0;
    double CaptionLeft = 0;
    double CaptionTop = 0;
    double CaptionWidth = 0;
};

struct IconRow
{
    double WindowHeight = 0; // the picture's height plus the row
    double SlotWidth = 0;
    QList<IconPlace> Places; // element 0 is icon 1
};

// The places of count icons (count >= 1) under a picture of pictureHeight in a window whose
// inner width is innerWidth; the window is as high inside as it is outside.
IconRow LayoutIconRow(qint16 count, double pictureHeight, double innerWidth, double iconWidth,
                      double captionHeight);

double TwipsPerPixel(double logicalDpi);
// To whole pixels at the end of the arithmetic.
int TwipsToPixels(double twips, double logicalDpi);

// The picture file to show: the first that exists of programFolder/<exeTitle>.bmp,
// programFolder/tools.bmp, programFolder/logo.bmp, then tools.bmp and logo.bmp in the parent
// of programFolder, each name in any letter case; "" when none exists.
QString FindLogoFile(const QString& programFolder, const QString& exeTitle);

// The platform label for a version record; empty when the label keeps its design caption.
std::optional<QString> PlatformCaption(const OSVersionInfo& version);
// The service-pack label: the record's text up to its first NUL and cut before its first
// ","; empty when the label keeps its design caption.
std::optional<QString> ServicePackCaption(const OSVersionInfo& version);

} // namespace SplashLayout
