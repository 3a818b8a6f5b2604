#include "tests/support/ZipEntries.h"

#include <QFile>
#include <zip.h>

QMap<QString, QByteArray> ZipEntries(const QString& path)
{
    QMap<QString, QByteArray> entries;
    int code = 0;
    zip_t* zip = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
    if (!zip) {
        return entries;
    }
    for (zip_int64_t i = 0; i < zip_get_num_entries(zip, 0); ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        zip_stat_index(zip, zip_uint64_t(i), 0, &st);
        QByteArray bytes(qsizetype(st.size), '\0');
        if (zip_file_t* file = zip_fopen_index(zip, zip_uint64_t(i), 0)) {
            zip_fread(file, bytes.data(), st.size);
            zip_fclose(file);
        }
        entries.insert(QString::fromUtf8(st.name), bytes);
    }
    zip_discard(zip);
    return entries;
}
