#pragma once
// The private folder where entries taken out of archives are put for a
// preview, for opening, or as a step of copying them out: one per process,
// only the user may enter it, and it is removed when the program ends.
// Nothing there may run: execute bits are taken off what lands in it.
#include <functional>
#include <string>
#include <vector>

// The cache folder, made on first use; empty when it cannot be made.
std::string ArchiveCacheFolder();
// Removes the cache folder and all in it (also done at exit).
void RemoveArchiveCache();

// Hears each entry as it starts (starts true) and now and then while it is
// written; setting abort stops the extraction.
using EntryHook = std::function<void(const std::string& name, bool starts, bool& abort)>;

// Extracts the entries of the archive file at path (a real file) named by
// storedNames (as the library lists them; folders bring their contents)
// through the library's extract call, with their paths, into folder, under
// the library's escape rules. False with a Japanese message on failure or
// when stopped; what was written by then stays in folder.
bool ExtractInto(const std::string& archive, const std::vector<std::string>& storedNames, const std::string& folder,
                 std::string& error, const EntryHook& onEntry = {});

// The same into a new empty folder of the cache, returned; execute bits are
// dropped. Empty with a message on failure; a stopped extraction leaves nothing.
std::string ExtractToCache(const std::string& archive, const std::vector<std::string>& storedNames, std::string& error,
                           const EntryHook& onEntry = {});

// The cached file of one entry of an archive (archive may itself lie inside
// another one): inner is its clean path. Extracted once per archive version.
std::string CachedEntryFile(const std::string& archive, const std::string& inner, std::string& error,
                            const EntryHook& onEntry = {});
