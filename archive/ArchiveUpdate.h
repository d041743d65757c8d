#pragma once
// Writing archives through the archiver libraries' pack and delete calls:
// adding files to an archive (into a folder inside it), deleting entries, and
// packing files into a new archive. An existing archive is rewritten under a
// working name beside it and put in its place only when the new one was
// written, read back and the old one is still what was listed; a failure or a
// stop leaves the old archive as it was and nothing else behind.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/fileops/ReplaceBeside.h"

// Hears each entry as it begins, and with an empty name now and then while
// one is written; false stops the work. Runs on the thread that writes.
using ArchiveWriteProgress = std::function<bool(const std::string& entry)>;

struct ArchiveWriteResult {
  bool ok = false;
  bool cancelled = false;
  std::string message;  // Japanese, for the user, when not ok and not cancelled
};

// What a write of path counts as entries: it, and all below it when it is a
// folder (for a progress).
uint64_t CountPackItems(const std::string& path);

// Whether an archiver library writes the archive's format (ZIP, 7z, tar,
// tar.gz, tar.bz2, tar.xz), by its name.
bool IsWritableArchive(const std::string& archive);
// The message for an archive whose format no library writes.
std::string ReadOnlyArchiveMessage(const std::string& archive);

// Adds the named items of sourceFolder (files, and folders with what is in
// them) into the folder inner of the archive ("" for its root); entries of
// the same names are replaced. listed: the archive as it was when listed.
ArchiveWriteResult AddToArchive(const std::string& archive, const FileIdentity& listed, const std::string& sourceFolder,
                                const std::vector<std::string>& names, const std::string& inner,
                                const ArchiveWriteProgress& progress = {});

// Deletes the entries stored under exactly these names.
ArchiveWriteResult DeleteFromArchive(const std::string& archive, const FileIdentity& listed,
                                     const std::vector<std::string>& storedNames,
                                     const ArchiveWriteProgress& progress = {});

enum class PackFormat { Zip, SevenZip, TarGz, TarXz };

struct PackRequest {
  std::string target;  // the new archive's path; nothing may have that name
  PackFormat format = PackFormat::Zip;
  int level = -1;        // 0-9, -1 the format's default
  std::string password;  // ZIP only
  std::string sourceFolder;
  std::vector<std::string> names;  // items of sourceFolder
};

// The extension each format's archive gets (".zip", ".tar.gz", ...).
const char* PackExtension(PackFormat format);
// Whether the format's library can protect the entries with a password.
bool PackTakesPassword(PackFormat format);
ArchiveWriteResult PackArchive(const PackRequest& request, const ArchiveWriteProgress& progress = {});
