#include "engine/cImporterGroup.h"

#include "framework/GeneralHelpers.h"
#include "platform/cartstore/Cart.h"
#include "platform/system/DateTimeFunctions.h"
#include "platform/system/FileFunctions.h"
#include "platform/system/GeneralFunctions.h"
#include "platform/system/SystemInfoFunctions.h"

#include <QLocale>
#include <cmath>

namespace {

cImporterGroup::Clock& tagClock()
{
    static cImporterGroup::Clock c;
    return c;
}

QDateTime now()
{
    return tagClock() ? tagClock()() : QDateTime::currentDateTime();
}

TimeRecord currentDateTime()
{
    if (!tagClock()) {
        return DateTimeFunctions::instance().CurrentDateTime(0);
    }
    const QDateTime at = tagClock()();
    TimeRecord record;
    record.Day = static_cast<qint32>(std::floor(DateTimeFunctions::ToOleDate(at)));
    record.TimeOfDay = static_cast<float>(at.time().msecsSinceStartOfDay() / 1000);
    return record;
}

// The general date: the short date, then the time with seconds unless it is exactly midnight.
QString generalDate(const QDateTime& at)
{
    const QLocale locale = QLocale::system();
    const QString date = locale.toString(at.date(), QLocale::ShortFormat);
    if (at.time() == QTime(0, 0)) {
        return date;
    }
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    // The long format may name the time zone, which the general date never shows.
    timeFormat.remove(QLatin1Char('t'));
    return date + QLatin1Char(' ') + locale.toString(at.time(), timeFormat.trimmed());
}

} // namespace

cImporterGroup::cImporterGroup()
{
    Enabled = true;
    StartHDRef.clear();
    EndHDRef.clear();
    UseArchiveBit = true;
    ReplaceChangedLengthCarts = false;
    OverrideIntroStart = -1.0f;
    OverrideIntroEnd = -1.0f;
    OverrideExtro = -1.0f;
    OverrideArtist.clear();
    OverrideDescription.clear();
    OverrideTitle.clear();
    OverrideNormalise = 0;
}

void cImporterGroup::setClock(Clock c)
{
    tagClock() = std::move(c);
}

qint16 cImporterGroup::PerformOverrides(Cart* hdItem)
{
    if (!hdItem) {
        return 0;
    }
    const GeneralFunctions& general = GeneralFunctions::instance();
    qint16 applied = 0;

    // Each step bounds its marker by the markers as the steps before left them. An unset out
    // point or extro is negative (a fresh import has no extro), which would invert the bounds:
    // the audio's end takes its place.
    const auto audioEnd = [hdItem]() -> double {
        return hdItem->OutPoint > 0 ? hdItem->OutPoint : hdItem->Length;
    };
    const auto introLimit = [&]() -> double {
        return hdItem->Extro > 0 ? static_cast<double>(hdItem->Extro) : audioEnd();
    };
    if (OverrideExtro > 0) {
        hdItem->Extro = static_cast<float>(general.ClampDouble(OverrideExtro, 0.1, audioEnd()));
        ++applied;
    }
    if (OverrideIntroStart >= 0) {
        hdItem->IntroStart =
            static_cast<float>(general.ClampDouble(OverrideIntroStart, 0.0, introLimit()));
        ++applied;
    }
    if (OverrideIntroEnd >= 0) {
        hdItem->IntroEnd = static_cast<float>(
            general.ClampDouble(OverrideIntroEnd, hdItem->IntroStart, introLimit() - 0.01));
        ++applied;
    }
    if (!OverrideTitle.isEmpty()) {
        hdItem->Title = ReplaceTags(OverrideTitle, hdItem);
        ++applied;
    }
    if (!OverrideArtist.isEmpty()) {
        hdItem->Artist = ReplaceTags(OverrideArtist, hdItem);
        ++applied;
    }
    if (!OverrideDescription.isEmpty()) {
        hdItem->Description = ReplaceTags(OverrideDescription, hdItem);
        ++applied;
    }
    return applied;
}

QString cImporterGroup::ReplaceTags(QString text, Cart* cart)
{
    const auto replace = [&text](const char* tag, const QString& value) {
        text.replace(QLatin1String(tag), value, Qt::CaseInsensitive);
    };

    replace("<CURRENTDATE>", QLocale::system().toString(now().date(), QLocale::ShortFormat));
    replace("<CURRENTTIME>", now().time().toString(QStringLiteral("HH:mm:ss")));
    replace("<CURRENTDATETIME>", generalDate(now()));
    TimeRecord record = currentDateTime();
    replace("<CURRENTDATETIMEXML>", FormatISODateTime(record));
    replace("<COMPUTERNAME>", SystemInfoFunctions::instance().ComputerName());

    if (cart) {
        const FileFunctions& files = FileFunctions::instance();
        // Only the full name loses the "file://" scheme; the name parts see the text as stored.
        replace("<FILEFULLNAME>",
                QString(cart->SourceFile).remove(QLatin1String("file://"), Qt::CaseInsensitive));
        replace("<FILENAME>", files.GetFileName(cart->SourceFile));
        replace("<FILETITLE>", files.GetFileTitle(cart->SourceFile));
        replace("<FILEEXTENSION>", files.GetExtensionName(cart->SourceFile));
        replace("<FILEPATH>", files.GetFolderName(cart->SourceFile, 0));
    }
    return text;
}
