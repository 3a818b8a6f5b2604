#include "engine/cImporterEmail.h"

#include "engine/cEmail.h"
#include "engine/cImporter.h"
#include "engine/cImporterGroup.h"
#include "framework/DebugLog.h"
#include "platform/system/FileFunctions.h"
#include "platform/system/GeneralFunctions.h"
#include "platform/system/PathIgnoringCase.h"
#include "platform/system/PlatformPaths.h"
#include "platform/system/SystemInfoFunctions.h"

#include <QDateTime>
#include <QLocale>

namespace {

QString& TemplateFolderOverride()
{
    static QString folder;
    return folder;
}

qint32& ServerPort()
{
    static qint32 port = 25;
    return port;
}

// The general date: the short date, then the time with seconds unless it is exactly midnight.
QString GeneralDate(const QDateTime& at)
{
    const QLocale locale = QLocale::system();
    const QString date = locale.toString(at.date(), QLocale::ShortFormat);
    if (at.time().hour() == 0 && at.time().minute() == 0 && at.time().second() == 0) {
        return date;
    }
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    // The long format may name the time zone, which the general date never shows.
    timeFormat.remove(QLatin1Char('t'));
    return date + QLatin1Char(' ') + locale.toString(at.time(), timeFormat.trimmed());
}

struct Outcome
{
    QString TraceWord;
    QString Template;
    QString SubjectPrefix;
    QString OutcomeWords;
    QString NoteLabel;
    bool GenerateTextForBuiltIn;
    QString LogSent;
    QString LogFailed;
};

const Outcome& SuccessOutcome()
{
    static const Outcome outcome{
        QStringLiteral("SendSuccessEmail "),
        QStringLiteral("Templates/ImportSuccess.eml"),
        QStringLiteral("Cartfeeder Success:"),
        QStringLiteral(" was successfully imported into Cart "),
        QStringLiteral("Additional Information: "),
        true,
        QStringLiteral("Success Notification Email Sent OK"),
        QStringLiteral("Failed to send Success Notification Email - Reason: ")};
    return outcome;
}

const Outcome& FailOutcome()
{
    static const Outcome outcome{
        QStringLiteral("SendFailedEmail "),
        QStringLiteral("Templates/ImportFail.eml"),
        QStringLiteral("Cartfeeder FAIL:"),
        QStringLiteral(" FAILED TO importe into Cart "),
        QStringLiteral("The reason given was: "),
        false,
        QStringLiteral("Fail Notification Email Sent OK"),
        QStringLiteral("Failed to send Fail Notification Email - Reason: ")};
    return outcome;
}

struct TagValues
{
    QString GroupName;
    QString FileName;
    QString HDReference;
    QString Note;
    QString DateTime;
};

// In an HTML body the values are text: a file name holding "<" or "&" must not become markup.
QString ForHtml(const QString& value, bool html)
{
    return html ? value.toHtmlEscaped() : value;
}

QString ExpandTags(QString text, const TagValues& values, bool html)
{
    FileFunctions& files = FileFunctions::instance();
    text.replace(QLatin1String("&lt;"), QLatin1String("<"));
    text.replace(QLatin1String("&gt;"), QLatin1String(">"));
    const QPair<QString, QString> tags[] = {
        {QStringLiteral("<CARTFEEDER_GROUPNAME>"), values.GroupName},
        {QStringLiteral("<CARTFEEDER_FILETITLE>"), files.GetFileTitle(values.FileName)},
        {QStringLiteral("<CARTFEEDER_FULLFILENAME>"), values.FileName},
        {QStringLiteral("<CARTFEEDER_FILENAME>"), files.GetFileName(values.FileName)},
        {QStringLiteral("<CARTFEEDER_HDREF>"), values.HDReference},
        {QStringLiteral("<CARTFEEDER_DATETIME>"), values.DateTime},
        {QStringLiteral("<CARTFEEDER_NOTES>"), values.Note},
        {QStringLiteral("<CARTFEEDER_COMPUTERNAME>"),
         SystemInfoFunctions::instance().ComputerName()},
    };
    for (const auto& tag : tags) {
        text.replace(tag.first, ForHtml(tag.second, html), Qt::CaseInsensitive);
    }
    return text;
}

} // namespace

namespace NotificationEmail {

void SetTemplateBaseFolder(const QString& folder)
{
    TemplateFolderOverride() = folder;
}

QString TemplateBaseFolder()
{
    return TemplateFolderOverride().isEmpty() ? PlatformPaths::ProgramFolder()
                                              : TemplateFolderOverride();
}

void SetServerPort(qint32 port)
{
    ServerPort() = port;
}

} // namespace NotificationEmail

namespace {

// Both notification mails; they differ only in the outcome's texts and recipients.
void Send(cImporter& importer, const Outcome& outcome, const QString& recipients,
          cImporterGroup& group, qint16 groupNumber, const QString& fileName,
          const QString& hdReference, const QString& note)
{
    cEmail email;
    email.ServerPort = ServerPort();
    email.MailServer = importer.SMTPServerAddress();
    if (!importer.SMTPLoginName().isEmpty()) {
        email.UserName = importer.SMTPLoginName();
        email.Password = importer.SMTPPassword();
    }

    TagValues values;
    values.GroupName = group.GroupName;
    values.FileName = fileName;
    values.HDReference = hdReference;
    values.Note = note;

    // Template sets copied from Windows come in any letter case.
    const QString base = NotificationEmail::TemplateBaseFolder();
    const QString found = PathIgnoringCase::FindFile(base, outcome.Template);
    if (email.LoadFromFile(found.isEmpty() ? base + QLatin1Char('/') + outcome.Template : found)) {
        MailMessage* message = email.Message();
        message->setTo(recipients);
        message->setFrom(group.NotifyEmailSender);
        values.DateTime = GeneralDate(QDateTime::currentDateTime());
        message->setSubject(ExpandTags(message->Subject(), values, false));
        const QString html = ExpandTags(message->HTMLBody(), values, true);
        message->setAutoGenerateTextBody(true);
        message->setHTMLBody(html);
    } else {
        MailMessage* message = email.Message();
        message->setTo(recipients);
        message->setFrom(group.NotifyEmailSender);
        message->setSubject(outcome.SubjectPrefix +
                            FileFunctions::instance().GetFileName(fileName) +
                            QStringLiteral(" -> Cart ") + hdReference);
        GeneralFunctions::instance().DebugTrace(
            QStringLiteral("Mail Server: ") + email.MailServer + QStringLiteral(", UserName: ") +
            email.UserName + QStringLiteral(", Password: ") +
            // Never the password itself: support files
            // collect this trace.
            (email.Password.isEmpty() ? QString() : QStringLiteral("********")) +
            QStringLiteral(", Subject: ") + message->Subject());
        const QString body =
            QStringLiteral("<html><font face='Arial'>") + QStringLiteral("The file ") +
            QLatin1Char('"') + fileName.toHtmlEscaped() + QLatin1Char('"') + outcome.OutcomeWords +
            hdReference.toHtmlEscaped() + QStringLiteral(" at ") +
            GeneralDate(QDateTime::currentDateTime()) + QStringLiteral("<br><br>") +
            outcome.NoteLabel + note.toHtmlEscaped() + QStringLiteral("<br><br>") +
            QStringLiteral("This is an automatic email from Cartfeeder running on ") +
            SystemInfoFunctions::instance().ComputerName().toHtmlEscaped() +
            QStringLiteral("</font></html>");
        if (outcome.GenerateTextForBuiltIn) {
            message->setAutoGenerateTextBody(true);
        }
        message->setHTMLBody(body);
    }

    QString reason;
    const bool sent = email.SendEmail(reason, true);
    const QString prefix = QStringLiteral("GRP:") + QString::number(groupNumber);
    if (sent) {
        importer.AddToLog(prefix, outcome.LogSent);
    } else {
        importer.AddToLog(prefix, outcome.LogFailed + reason);
    }
}

} // namespace

namespace {
// Both notification mails: trace, then a mail only to a group that has recipients for it.
void Notify(cImporter& importer, const Outcome& outcome, QString cImporterGroup::*recipients,
            qint16 groupNumber, const QString& fileName, const QString& hdReference,
            const QString& note)
{
    AddToDebugLog(outcome.TraceWord + QString::number(groupNumber) + QLatin1Char(',') + fileName +
                      QLatin1Char(',') + hdReference + QLatin1Char(',') + note,
                  5, ovNone);
    if (groupNumber <= 0) {
        return;
    }
    cImporterGroup* group = importer.ImporterGroup(groupNumber);
    if (!group || (group->*recipients).isEmpty()) {
        return;
    }
    Send(importer, outcome, group->*recipients, *group, groupNumber, fileName, hdReference, note);
}
} // namespace

void cImporter::SendSuccessEmail(qint16& GroupNumber, QString& FileName, QString& HDReference,
                                 QString& Note)
{
    Notify(*this, SuccessOutcome(), &cImporterGroup::NotifySuccessEmailRecipients, GroupNumber,
           FileName, HDReference, Note);
}

void cImporter::SendFailedEmail(qint16& GroupNumber, QString& FileName, QString& HDReference,
                                QString& Note)
{
    Notify(*this, FailOutcome(), &cImporterGroup::NotifyFailEmailRecipients, GroupNumber, FileName,
           HDReference, Note);
}
