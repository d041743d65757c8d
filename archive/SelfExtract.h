#pragma once
// Self-extracting archives made by the program itself: a stub executable
// followed by the whole archive.
#include <string>

#include "archive/ArchiverDll.h"

class ESfxNoRequiredFile : public EArchiver {
 public:
  ESfxNoRequiredFile(std::string kind, std::string platform, std::string requiredFile);
  std::string Kind, Platform, RequiredFile;
};

// The name with its extension (from the last '.' of the last component)
// replaced by ext, or ext appended when it has none.
std::string ChangeFileExt(const std::string& name, const std::string& ext);

// Where the self-extracting archive of fileName goes: its name with ext, in
// destDir when that is not empty.
std::string SfxOutputPath(const std::string& fileName, const std::string& ext, const std::string& destDir);

// Writes stub + archive to output. The output appears complete or not at all;
// a file of that name is replaced. Throws Exception when a file cannot be read
// or written.
void WriteSfxFile(const std::string& stub, const std::string& archive, const std::string& output);

// A stub on the executable search path; empty when none.
std::string FindSfxStub(const std::string& name);
// "7z.sfx": first in the folder the registry names for 7-Zip, then on the path.
std::string FindSevenZipSfxStub();
