#pragma once
// Symbolic links to files, made beside them or in another folder. A link never
// replaces anything: a taken name gets a number instead.
#include <string>
#include <vector>

class IFileOperationUI;

// The name a new link to source gets in folder: "NAME へのリンク", then
// "NAME へのリンク (2)"... (the number before a file's extension).
std::string LinkNameFor(const std::string& sourceName, bool folder, int number);
// Makes symbolic links to sources and never replaces anything: in folder,
// named like each source ("NAME (2).EXT" when taken), or, with no folder,
// beside each source, named by LinkNameFor.
bool CreateLinks(const std::vector<std::string>& sources, const std::string& folder, IFileOperationUI* ui,
                 std::vector<std::string>* made = nullptr);
// Makes links to sources beside them, named by LinkNameFor; never replaces.
// Failures are asked through ui (retry, skip, cancel). The paths of the links
// made go to made. true when every link was made.
bool CreateLinksBeside(const std::vector<std::string>& sources, IFileOperationUI* ui,
                       std::vector<std::string>* made = nullptr);
// Makes symbolic links to sources in folder, each named like its source; a
// taken name gets " (2)", " (3)"... and nothing is ever replaced. Failures are
// asked through ui (retry, skip, cancel). true when every link was made.
bool CreateLinksInFolder(const std::vector<std::string>& sources, const std::string& folder, IFileOperationUI* ui);
