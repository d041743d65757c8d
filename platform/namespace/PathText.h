#pragma once
// Small operations on paths as byte strings ('/' is the only separator).
#include <string>
#include <string_view>

// The folder part: "/a/b" -> "/a", "/a" -> "/", "a" -> ".".
std::string DirName(std::string_view path);
// The last name, trailing separators ignored: "/a/b/" -> "b"; "/" stays "/".
std::string BaseName(std::string_view path);
// %XX escapes to bytes; a broken escape is kept as written.
std::string PercentDecode(std::string_view text);
// The path names a folder (a link to one counts).
bool FolderExists(const std::string& path);
// The path itself when it is a folder, else its nearest parent that is one
// ("/" at last).
std::string NearestExistingFolder(const std::string& path);
// The path names something that is not a folder.
bool NonFolderExists(const std::string& path);
// The path made absolute against the current folder; as given when that
// cannot be read.
std::string AbsolutePath(const std::string& path);
// An absolute path without "." or ".." names or doubled slashes, relative
// paths counted from the current folder; where a link makes the names lie
// ("link/.."), the kernel's real path. Empty when nothing exists there.
// isFolder tells what was found.
std::string ExistingCleanPath(const std::string& path, bool& isFolder);
