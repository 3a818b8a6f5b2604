#pragma once

#include "platform/system/Result.h"

#include <QList>
#include <QPair>
#include <QString>
#include <functional>

// A transport file: a .zip holding one cart's audio and a small text file ("cart.txt") of its
// fields, one "Name=value" line each (backslash escapes for line breaks and backslashes).
class TransportFile
{
public:
    using Fields = QList<QPair<QString, QString>>;
    // Fraction done (0..1); answer false to stop.
    using Progress = std::function<bool(double)>;

    static constexpr const char* FieldsEntry = "cart.txt";
    // Refused when the entries would unpack to more than this in all, or to more than the
    // target folder has room for. Quiet audio deflates a thousandfold, so the ratio of the
    // archive's size to the unpacked size says nothing.
    static constexpr qint64 MaxUnpackedBytes = 4LL * 1024 * 1024 * 1024;

    // Writes (replacing) zipPath with the audio file stored as audioEntry, uncompressed (audio
    // hardly compresses).
    static Result<> Write(const QString& zipPath, const QString& audioFile,
                          const QString& audioEntry, const Fields& fields,
                          const Progress& progress);

    // Checks the whole archive first, then unpacks its one audio entry into a new file in
    // targetFolder (audioPath; the caller removes it) and reads the fields when present. A
    // failure of the target folder (too little room, a write that fails) sets targetFault: the
    // archive itself may be sound.
    static Result<> Read(const QString& zipPath, const QString& targetFolder, QString& audioPath,
                         Fields& fields, const Progress& progress, bool* targetFault = nullptr);
    // The most the fields entry may unpack to.
    static constexpr qint64 MaxFieldsBytes = 1 << 20;

    // Relative, no "..", no drive letter, no empty name.
    static bool IsSafeEntryName(const QString& name);
    static bool IsAudioEntry(const QString& name);

    static QByteArray FormatFields(const Fields& fields);

    // Bytes an ordinary user may still write in the folder; -1 when the system cannot tell.
    static qint64 FreeBytes(const QString& folder);
    static Fields ParseFields(const QByteArray& text);
};
