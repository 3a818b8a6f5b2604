#pragma once

#include "platform/system/Result.h"

#include <QString>

// INI files with the semantics of Windows' profile functions, so that files written there
// read the same here: sections and keys compare without regard to case, blanks around keys and
// values are ignored, one pair of quotes around a value is removed; a write replaces the value
// in place and keeps every other line; writes are atomic (temporary file, then rename).
namespace IniFile {

// GetPrivateProfileString: the value, or defaultValue when the key, section or file is missing.
QString ReadString(const QString& file, const QString& section, const QString& key,
                   const QString& defaultValue);

// GetPrivateProfileInt: the leading integer; the default when missing or empty; 0 when the
// value has no leading number.
qint32 ReadInt(const QString& file, const QString& section, const QString& key,
               qint32 defaultValue);

// WritePrivateProfileString: a null value deletes the key; returns false when the file could
// not be written. Creates missing sections and files.
bool WriteString(const QString& file, const QString& section, const QString& key,
                 const QString& value);

// Deletes the whole section.
bool DeleteSection(const QString& file, const QString& section);

// Gathers the reads and writes of one file while it lives: the file is read once, and the
// writes replace it in one step at Commit, so a crash never leaves it half saved and a save of
// many keys costs one write. Writes not committed are dropped. Batches of one file nest; the
// outermost commits.
class Batch
{
public:
    explicit Batch(const QString& file);
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    // Writes the file if anything changed; fails, saying why, when it could not be written.
    Result<> Commit();

private:
    QString m_key;
};

} // namespace IniFile
