#include "platform/system/FileSystemKinds.h"

#include <cstdint>
#include <gtest/gtest.h>

// Every kind where another machine may write counts as such for the in-use test and the
// folder listings alike; the Windows shares among them also keep the real DOS attributes.
TEST(FileSystemKindsTest, NetworkFileSystemsAndWindowsShares)
{
    struct Row
    {
        const char* name;
        long magic;
        bool network;
        bool dosAttributes;
    };
    const Row rows[] = {
        {"NFS", 0x6969, true, false},
        {"SMB", 0x517B, true, true},
        {"CIFS", 0xFF534D42, true, true},
        {"SMB2", 0xFE534D42, true, true},
        {"CIFS as a negative long", long(std::int32_t(0xFF534D42)), true, true},
        {"FUSE", 0x65735546, true, false},
        {"9p", 0x01021997, true, false},
        {"AFS", 0x5346414F, true, false},
        {"Ceph", 0x00C36400, true, false},
        {"ext4", 0xEF53, false, false},
        {"tmpfs", 0x01021994, false, false},
        {"btrfs", 0x9123683E, false, false},
        {"XFS", 0x58465342, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(FileSystemKinds::IsNetwork(row.magic), row.network);
        EXPECT_EQ(FileSystemKinds::KeepsDosAttributes(row.magic), row.dosAttributes);
    }
}
