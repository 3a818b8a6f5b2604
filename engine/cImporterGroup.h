#pragma once

#include <QDateTime>
#include <QString>
#include <functional>

class Cart;

// One import group: what the engine looks at and what it does to an imported cart.
class cImporterGroup
{
public:
    cImporterGroup();

    QString GroupName;
    QString Path;
    bool TakeSnapShotBeforeImport = false;
    QString StartHDRef;
    QString EndHDRef;
    bool Enabled = true;
    bool CheckCurrent = false;
    bool CheckCurrentLastModified = false;
    bool RemoveIfDeleted = false;
    bool ReplaceChangedLengthCarts = false;
    bool DeleteAfterImport = false;
    bool UseArchiveBit = true;
    float OverrideIntroStart = -1.0f; // seconds; negative: no override
    float OverrideIntroEnd = -1.0f;   // seconds; negative: no override
    float OverrideExtro = -1.0f;      // seconds; 0 or negative: no override
    QString OverrideTitle;
    QString OverrideArtist;
    QString OverrideDescription;
    qint16 OverrideNormalise = 0;
    QString NotifySuccessEmailRecipients;
    QString NotifyFailEmailRecipients;
    QString NotifyEmailSender;

    // Applies the overrides to the cart in memory; the number applied (0 to 6). Saving the
    // cart is the caller's.
    qint16 PerformOverrides(Cart* hdItem);

    // The clock read by the date and time tags; an empty function restores the system clock.
    using Clock = std::function<QDateTime()>;
    static void setClock(Clock clock);

private:
    QString ReplaceTags(QString text, Cart* cart);
};
