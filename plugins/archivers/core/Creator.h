#pragma once
// Making archives from files on disk; adding to, refreshing in and deleting from an
// existing archive by writing a new one beside it and renaming it into place.
#include <string>
#include <vector>

#include "ArchiveReader.h"
#include "Feedback.h"
#include "Output.h"

namespace arc {

enum class WriteFormat { Zip, Tar, SevenZip };
enum class CreateMode { Add, Update, Freshen, Delete };

struct CreateJob {
  std::string archive;
  std::string baseDir;             // names are stored relative to it; empty: as given
  std::vector<std::string> files;  // names or wildcards (Delete: entry patterns)
  WriteFormat format = WriteFormat::Zip;
  int filter = ARCHIVE_FILTER_NONE;  // tar only: gzip or bzip2
  int level = -1;                    // compression level 0-9, -1 default
  bool recurse = true;
  bool junkPaths = false;
  bool folderEntries = true;
  bool brackets = false;
  CreateMode mode = CreateMode::Add;
  std::string storedIn;     // a folder inside the archive the new names go under ("docs/sub")
  bool exactNames = false;  // names are taken as they are: no wildcards, no matching by base name
  std::string password;     // ZIP only (AES-256); other formats refuse one
};

int Create(const ReadFormats& readBack, const CreateJob& job, Feedback& feedback, Output& out);

}  // namespace arc
