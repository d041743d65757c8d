#pragma once
// One archiver library: its command dialect, what it reads and what it writes. The
// exported entries of every library call the functions below with their definition.
#include <string>
#include <vector>

#include "ArchiveReader.h"
#include "CommandLine.h"
#include "Creator.h"
#include "archive/ArchiverLibraryApi.h"

namespace arc {

// How a library reads its command line (the switch alphabets of the tools it stands for).
enum class Dialect { Lha, UnZip, Zip, Cab, Tar, Rar, SevenZip };

struct LibraryDef {
  const char* name;  // for messages, e.g. "UNLHA32"
  Dialect dialect;
  ReadFormats read;
  bool writes;  // creation supported
  WriteFormat writeFormat;
};

int RunCommand(const LibraryDef& lib, ArcHWND wnd, const char* cmdLine, char* output, uint32_t outputSize);
int RunExtractMem(const LibraryDef& lib, ArcHWND wnd, const char* cmdLine, void* buffer, uint32_t size, int64_t* time,
                  uint16_t* attr, uint32_t* written);
HARC OpenArchiveHandle(const LibraryDef& lib, ArcHWND wnd, const char* fileName, uint32_t mode);
int CloseArchiveHandle(HARC arc);
int FindFirstEntry(HARC arc, const char* wildName, ArcIndividualInfo* info);
int FindNextEntry(HARC arc, ArcIndividualInfo* info);
int CheckArchiveFile(const LibraryDef& lib, const char* fileName, int mode);
int GetEntryTime(HARC arc, ArcFileTime* time, int which);  // 0 write, 1 create, 2 access
int GetEntrySize(HARC arc, int64_t* size, bool compressed);
int GetTarArchiveType(const LibraryDef& lib, const char* fileName);

// The parsed command line (exposed for the tests of the parser through the entries only).
struct ParsedCommand {
  std::string word;                   // the command: "x", "e", "a", "u", "d", "f", "A", ... ("" none)
  std::vector<std::string> switches;  // without their leading "-"
  std::string archive;
  std::string dest;
  std::vector<std::string> files;
  std::vector<ResponseFile> responses;
};
bool ParseCommand(Dialect dialect, const std::string& line, bool withWord, ParsedCommand& cmd, std::string& error);

}  // namespace arc
