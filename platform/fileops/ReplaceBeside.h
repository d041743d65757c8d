#pragma once
// Replacing a file by a new version written beside it: a working name in the
// same folder, then a rename over the file only while the file is still the
// one the caller saw, so another program's change is never overwritten.
#include <sys/types.h>

#include <cstdint>
#include <string>

struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  int64_t mtimeNs = 0;
  mode_t mode = 0;
  uid_t owner = 0;
  gid_t group = 0;
  // The same file in the same state (mode and owner aside).
  bool SameAs(const FileIdentity& other) const {
    return device == other.device && inode == other.inode && size == other.size && mtimeNs == other.mtimeNs;
  }
};

// The identity of the regular file at path, from the opened descriptor (a link
// at the end of the path is not followed). False with a Japanese message when
// it is not a regular file or cannot be opened.
bool ReadFileIdentity(const std::string& path, FileIdentity& identity, std::string& error);

// Whether anything (a dangling link too) has the name.
bool NameInUse(const std::string& path);

// An unused hidden name in path's folder that ends as path's name does, so the
// working file keeps its extension: "dir/.tvw-<pid>-<n>-name.zip".
std::string WorkingNameBeside(const std::string& path);

// Gives the file at path (which must still be `expected`) the working name
// too: a second link when the file system has them, else a copy. The file at
// path is never changed. False with a message; nothing is left behind then.
bool MakeWorkingFile(const std::string& path, const FileIdentity& expected, const std::string& working,
                     std::string& error);

enum class ReplaceOutcome { Replaced, Changed, Failed };
// Puts the file at working in path's place, with the mode (and, when allowed,
// the owner) of `expected`, when path is still `expected`; the old file's
// data goes. Changed or Failed leave path as it was and remove working.
ReplaceOutcome ReplaceWithWorkingFile(const std::string& path, const FileIdentity& expected, const std::string& working,
                                      std::string& error);

// Gives the new file at working the name path when nothing has that name yet.
// False with a message (working is removed then).
bool RenameIntoFreeName(const std::string& working, const std::string& path, std::string& error);
