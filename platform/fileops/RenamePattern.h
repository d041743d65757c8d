#pragma once
// Names for renaming many files at once: a name pattern and an extension
// pattern with placeholders, then find and replace, then letter case; and
// the conflicts a set of new names would cause, found before anything is
// touched.
//
// Placeholders (anything else is copied as it stands):
//   [N]  the old name without its extension   [N2-5] its characters 2 to 5
//   [N3] its third character   [N2-] from the second to the end
//   [E]  the old extension (without the dot)
//   [C]  the counter (start, step and width of the rule); [C:3] three digits
//        wide; [C10] from 10; [C10+5] from 10 by 5; [C10+5:3] both
//   [Y] [M] [D] [h] [m] [s]  the file's modification year, month, day, hour,
//        minute, second (local time; zero-filled)
//   [P]  the name of the folder the file is in
//   [[] and []]  a bracket
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

struct RenameRule {
  std::string namePattern = "[N]";
  std::string extPattern = "[E]";
  std::string find, replace;
  bool regex = false;       // find is a regular expression; replace may use \1
  bool ignoreCase = false;  // of find
  enum class Case { Keep, Lower, Upper, FirstUpper } letterCase = Case::Keep;
  int64_t counterStart = 1, counterStep = 1;
  int counterWidth = 1;
};

// What a name is made from.
struct RenameSource {
  std::string folder;  // the folder's path
  std::string name;    // the old name
  bool isFolder = false;
  int64_t mtime = 0;  // seconds since 1970
  dev_t dev = 0;      // identity as seen when listed
  ino_t ino = 0;
};

enum class RenameConflict {
  None,
  Duplicate,  // another file of the batch gets the same name
  Exists,     // the name is taken by an item outside the batch
  Empty,
  Invalid,    // "/", NUL, "." or ".."
  TooLong,    // over 255 bytes
  BadPattern  // the pattern or the expression cannot be used
};

struct RenamePreviewRow {
  std::string oldName, newName;
  RenameConflict conflict = RenameConflict::None;
  bool changes() const { return oldName != newName; }
};

// The new name of the index-th source (counter = start + index * step);
// error receives a Japanese reason when the rule cannot be used.
std::string ExpandRenameRule(const RenameRule& rule, const RenameSource& source, size_t index, std::string* error);

// Every source's new name and its conflict; looks at the folders (lstat)
// for names taken outside the batch.
std::vector<RenamePreviewRow> PreviewRename(const RenameRule& rule, const std::vector<RenameSource>& sources);

// Japanese, for the preview table.
const char* RenameConflictText(RenameConflict conflict);
bool AnyRenameConflict(const std::vector<RenamePreviewRow>& rows);

// Fills a source from the file at folder/name (false when it is not there).
bool LookUpRenameSource(const std::string& folder, const std::string& name, RenameSource& source);
