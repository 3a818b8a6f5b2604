#pragma once

#include <QString>

// Where the notification mails look for their templates, and the SMTP port they use. The
// program never changes either; tests point them at their own folder and server.
namespace NotificationEmail {
// The folder holding "Templates/"; empty means the program's own folder.
void SetTemplateBaseFolder(const QString& folder);
QString TemplateBaseFolder();
void SetServerPort(qint32 port); // 25 unless a test changes it
} // namespace NotificationEmail
