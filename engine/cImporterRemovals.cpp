#include "engine/cImporter.h"

bool cImporter::ImportedWithoutSnapshot(const QString& FileName) const
{
    return m_importedWithoutSnapshot.contains(FileName);
}
