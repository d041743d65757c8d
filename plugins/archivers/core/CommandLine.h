#pragma once
// Splitting the command lines the program builds, response files and wildcard matching.
#include <string>
#include <vector>

namespace arc {

struct Token {
  std::string text;
  bool quoted = false;
};

// Blanks separate words; a pair of double quotes groups (and is removed), and inside it
// two quotes stand for one, so any name comes back exactly. A backslash is an ordinary
// character. Returns false (with a message) on a lone quote.
bool SplitCommandLine(const std::string& line, std::vector<Token>& out, std::string& error);

// A response file: one name per line, CR LF or LF; a name in double quotes takes "" as a
// quote and may span lines.
// The identity of the file read is kept so that only that file is removed afterwards.
struct ResponseFile {
  std::string path;
  unsigned long long dev = 0, ino = 0;
};
bool ReadResponseFile(const std::string& path, std::vector<std::string>& names, ResponseFile& file, std::string& error);
// Removes the response file when it is still the regular file that was read.
void RemoveResponseFile(const ResponseFile& file);

// "*" any run (also across "/"), "?" one character (a UTF-8 code point); with brackets
// "[abc]", "[a-z]" and "[!x]" classes, so "[-]" and "[[]" stand for "-" and "[".
// The empty pattern, "*" and "*.*" match every name.
bool WildMatch(const std::string& pattern, const std::string& name, bool brackets);

// Does a file argument select this entry? The whole name, or the last component when the
// pattern has no "/", or everything below a folder the pattern names.
bool SelectsEntry(const std::string& pattern, const std::string& name, bool brackets);

}  // namespace arc
