#pragma once
// Builds one archiver command line: switches, quoted values, folders and file
// names, the names optionally through a response file.
#include <cstdint>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "archive/ArchiverOptions.h"

// A loosely typed value as callers hand it in: a string, a number, or a
// one-dimensional array of such values.
struct TVariant {
  using Scalar = std::variant<std::monostate, std::string, int64_t, double>;
  Scalar Value;
  bool IsArray = false;
  std::vector<Scalar> Array;
};

// One element of a file-argument list. A null pointer array or a null C
// string contributes nothing.
using TFileArg = std::variant<std::nullptr_t, std::string, const char*, const char* const*, const TStringList*,
                              TStringList, TVariant>;
using TFileArgs = std::vector<TFileArg>;

// The names the list stands for, in order, empty ones dropped.
std::vector<std::string> FlattenFileArgs(const TFileArgs& files);

// Q(t): t enclosed in double quotes, each quote inside doubled, so the libraries read
// back exactly t.
inline std::string Quoted(const std::string& t) {
  std::string q = "\"";
  for (char c : t) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

class TCmdOpt {
 public:
  bool QuoteSeparately = false;
  std::function<std::string(const std::string&)> NameConverter;
  std::string CommandLine;

  void Add(const std::string& text);
  void AddValue(const std::string& sw, const std::string& value);
  void AddNumber(const std::string& sw, int n);
  void AddFlag(const std::string& sw, bool on);
  void AddDirectory(const std::string& sw, const std::string& dir);
  void AddFileName(const std::string& sw, const std::string& name);
  int AddFileNames(const std::string& sw, const TFileArgs& files);
  int AddFileNames(const std::string& sw, const TStringList& names);
  std::string ConvertName(const std::string& name) const;
  // Throws when the file cannot be created; nothing is added then.
  int AddResponseFile(const TFileArgs& files, const std::string& fileName);

  // The response file this builder wrote, so its command can remove it
  // afterwards; empty when none.
  struct WrittenFile {
    std::string Path;
    uint64_t Device = 0, Inode = 0;
  };
  const WrittenFile& ResponseFile() const { return responseFile_; }

 private:
  WrittenFile responseFile_;
};

// Appends '/' unless dir already ends in one.
std::string WithTrailingSeparator(const std::string& dir);

// Removes the response file when it is still the file that was written.
void RemoveResponseFile(const TCmdOpt::WrittenFile& file);
