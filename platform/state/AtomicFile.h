#pragma once
// Whole-file reads and atomic replacement, for the small state files (INI
// file, line lists). A reader never sees a half-written file: the new
// contents go to a temporary file in the same folder, are synced, then
// renamed over the old one.
#include <cstddef>
#include <string>
#include <string_view>

// Reads a regular file whole. False for a missing, unreadable or non-regular
// file, or one larger than maxSize; data is then empty.
bool ReadWholeFile(const std::string& path, std::string& data, size_t maxSize = 64u << 20);

// Replaces the file with data. A symbolic link is followed, so the link stays
// and its target gets the new contents, but only when that target is a
// regular file: a link to a device, a FIFO, a folder or nothing is left
// alone (false, errno EINVAL). The old file's permission bits are kept. On
// failure the old file is untouched and no temporary file is left.
bool WriteFileAtomically(const std::string& path, std::string_view data);

// path is a symbolic link whose target is not a regular file (or is missing):
// WriteFileAtomically refuses it.
bool IsLinkToNonRegularFile(const std::string& path);
