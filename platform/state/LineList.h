#pragma once
// A line list: an ordered list of strings kept as a text file, one entry per
// line. Reading accepts CR, LF or CR LF and keeps a last line without a line
// break; writing ends every line with CR LF and replaces the file atomically.
// A missing, unreadable or binary file loads as an empty list.
#include <string>
#include <string_view>
#include <vector>

class TLineList {
 public:
  std::vector<std::string> Lines;

  int Count() const { return static_cast<int>(Lines.size()); }
  // Index checks throw EListError, as a list indexed outside its range does.
  const std::string& operator[](int index) const;
  std::string& operator[](int index);

  int Add(const std::string& s);
  void Insert(int index, const std::string& s);  // index == Count() appends
  void Delete(int index);
  void Clear() { Lines.clear(); }
  // Exact byte comparison: paths on this system are case-sensitive. -1 when absent.
  int IndexOf(const std::string& s) const;

  // All lines, each ended by CR LF.
  std::string Text() const;
  // Replaces the lines with those of the text.
  void SetText(std::string_view text);

  // False when the file is missing, unreadable or binary; the list is empty then.
  bool LoadFromFile(const std::string& fileName);
  bool SaveToFile(const std::string& fileName) const;

 private:
  void Check(int index, int limit) const;
};

// Splits text into lines at CR, LF or CR LF; a last line without a break counts.
std::vector<std::string> SplitLines(std::string_view text);
