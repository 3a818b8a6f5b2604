#include "platform/system/SaveWhole.h"
#include "tests/support/FileSizeLimit.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>

#include <cerrno>
#include <gtest/gtest.h>
#include <memory>

namespace {

// Every step that can fail says why and leaves the old file byte for byte, with no temporary
// file beside it.
TEST(SaveWholeTest, AFailedStepLeavesTheOldFileWholeAndSaysWhy)
{
    const QByteArray old = "[General]\nCheckInterval=60\n";
    const QByteArray next = QByteArray(64 * 1024, 'x');
    struct Row
    {
        const char* name;
        SaveWholeSteps steps;
        qint64 sizeLimit; // 0: none
        QString reason;   // empty: any
    };
    const auto failedSync = [](int) {
        errno = EIO;
        return -1;
    };
    const auto failedCommit = [](QSaveFile& file) {
        file.cancelWriting();
        return file.commit();
    };
    const Row rows[] = {
        {"write", {}, 4096, "File too large"},
        {"sync", {failedSync, {}}, 0, "Input/output error"},
        {"commit", {{}, failedCommit}, 0, QString()},
    };
    for (const Row& row : rows) {
        QTemporaryDir dir;
        const QString path = dir.filePath("Importer.ini");
        QFile existing(path);
        ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
        existing.write(old);
        existing.close();

        QSaveFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        Result<> saved;
        {
            std::unique_ptr<FileSizeLimit> limit;
            if (row.sizeLimit > 0) {
                limit = std::make_unique<FileSizeLimit>(row.sizeLimit);
            }
            saved = SaveWhole(file, next, row.steps);
        }
        EXPECT_FALSE(saved) << row.name;
        EXPECT_FALSE(saved.Reason().isEmpty()) << row.name;
        if (!row.reason.isEmpty()) {
            EXPECT_EQ(saved.Reason(), row.reason) << row.name;
        }
        ASSERT_TRUE(existing.open(QIODevice::ReadOnly));
        EXPECT_EQ(existing.readAll(), old) << row.name;
        existing.close();
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                  QStringList{"Importer.ini"})
            << row.name;
    }
}

} // namespace
