#pragma once
// Extraction to disk: nothing outside the destination, no partial file under a final name.
#include <cstdint>
#include <string>
#include <vector>

#include "ArchiveReader.h"
#include "Feedback.h"
#include "Output.h"

namespace arc {

enum class Overwrite { Ask, Always, Never, Rename };

struct ExtractJob {
  std::string archive;
  std::string dest;                   // empty: the archive's own folder
  std::vector<std::string> patterns;  // none: every entry
  std::vector<std::string> excludes;
  bool brackets = false;  // "[...]" classes in patterns (the ZIP tools' syntax)
  bool withPaths = true;
  Overwrite overwrite = Overwrite::Ask;
};

int Extract(const ReadFormats& formats, const ExtractJob& job, Feedback& feedback, Output& out);

// The one entry the pattern selects, into memory. time: seconds since 1970; attr: MS-DOS
// attribute bits.
int ExtractToMemory(const ReadFormats& formats, const std::string& archive, const std::string& pattern, bool brackets,
                    void* buffer, uint32_t size, int64_t* time, uint16_t* attr, uint32_t* written, Output& out);

// A stored name made relative and clean, or false when it is absolute or climbs with "..".
bool CleanEntryPath(const std::string& name, std::string& clean);

}  // namespace arc
