// file_systems.h -- what each file system answers of the calls the updater makes, as the sweep shim models it (the
// table and its sources: docs/reliability.md). A class that a row does not list is refused as an unknown one (87):
// a change that asks something new fails the sweep until the table says what every file system answers.
#pragma once

#include <windows.h>

namespace fs
{

const LONG INVALID_PARAMETER = static_cast<LONG>(0xC000000D), INVALID_DEVICE_REQUEST = static_cast<LONG>(0xC0000010),
           NOT_SUPPORTED = static_cast<LONG>(0xC00000BB), ACCESS_DENIED = static_cast<LONG>(0xC0000022),
           NAME_COLLISION = static_cast<LONG>(0xC0000035);

// A bit per class: GetFileInformationByHandleEx's queries, NtSetInformationFile's native sets (4 basic, 10 rename,
// 11 link, 13 disposition).
const unsigned BASIC = 1u << FileBasicInfo, STANDARD = 1u << FileStandardInfo, TAG = 1u << FileAttributeTagInfo,
               ALL_SETS = 1u << 4 | 1u << 10 | 1u << 11 | 1u << 13, NO_LINK = ALL_SETS & ~(1u << 11);

struct FileSystem {
    const char *name;
    unsigned queries, sets;
    LONG link, over_read_only; // the answers to a link where there are none, to a rename over a read-only file
} const FILE_SYSTEMS[] = {
    // NTFS: every class the updater asks; a rename over a read-only file is denied (MS-FSA, FILE_RENAME_INFORMATION).
    {"ntfs", BASIC | STANDARD | TAG, ALL_SETS, 0, ACCESS_DENIED},
    // ReFS before version 3.5: no hard links (MS-FSA 2.1.5.15.6, the ReFS overview).
    {"refs", BASIC | STANDARD | TAG, NO_LINK, NOT_SUPPORTED, ACCESS_DENIED},
    // FAT32 and exFAT (the published FAT driver, fastfat fileinfo.c; exFAT's is not published, and what is known of
    // it is FAT's answer): no tag class, no links, a rename over a read-only file collides, no reparse points.
    {"fat", BASIC | STANDARD, NO_LINK, INVALID_DEVICE_REQUEST, NAME_COLLISION}};

} // namespace fs
