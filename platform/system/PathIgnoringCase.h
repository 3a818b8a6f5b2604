#pragma once

#include <QString>

// Files that come from Windows installations (pictures, language tables, update notes) are
// named there in any letter case. These find them below a folder by a relative path such as
// "Common/Updates.rtf", each part matched without regard to case; a part spelt exactly wins,
// else the first match in name order. "" when there is none.
namespace PathIgnoringCase {

QString FindFile(const QString& folder, const QString& relative);
QString FindFolder(const QString& folder, const QString& relative);

} // namespace PathIgnoringCase
