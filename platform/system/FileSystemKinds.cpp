#include "platform/system/FileSystemKinds.h"

#include <QtGlobal>
#include <iterator>

namespace {

struct Kind
{
    quint32 magic; // linux/magic.h and the file systems' own headers
    bool dosAttributes;
};

constexpr Kind kNetwork[] = {
    {0x6969, false},     // NFS
    {0x517B, true},      // SMB
    {0xFF534D42, true},  // CIFS
    {0xFE534D42, true},  // SMB2 and SMB3
    {0x65735546, false}, // FUSE: sshfs and friends, the writer may be on another machine
    {0x01021997, false}, // 9p
    {0x5346414F, false}, // AFS
    {0x00C36400, false}, // Ceph
};

const Kind* Find(long fileSystemType)
{
    // f_type is a signed long: compared on its 32 bits.
    const auto magic = quint32(fileSystemType);
    for (const Kind& kind : kNetwork) {
        if (kind.magic == magic) {
            return &kind;
        }
    }
    return nullptr;
}

} // namespace

bool FileSystemKinds::IsNetwork(long fileSystemType)
{
    return Find(fileSystemType) != nullptr;
}

bool FileSystemKinds::KeepsDosAttributes(long fileSystemType)
{
    const Kind* kind = Find(fileSystemType);
    return kind && kind->dosAttributes;
}
