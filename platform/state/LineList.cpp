#include "platform/state/LineList.h"

#include "platform/state/AtomicFile.h"
#include "platform/system/Exception.h"

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) {
      lines.emplace_back(text.substr(pos));
      break;
    }
    lines.emplace_back(text.substr(pos, end - pos));
    pos = end + 1;
    if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
  }
  return lines;
}

void TLineList::Check(int index, int limit) const {
  if (index < 0 || index > limit) throw EListError(index);
}

const std::string& TLineList::operator[](int index) const {
  Check(index, Count() - 1);
  return Lines[static_cast<size_t>(index)];
}

std::string& TLineList::operator[](int index) {
  Check(index, Count() - 1);
  return Lines[static_cast<size_t>(index)];
}

int TLineList::Add(const std::string& s) {
  Lines.push_back(s);
  return Count() - 1;
}

void TLineList::Insert(int index, const std::string& s) {
  Check(index, Count());
  Lines.insert(Lines.begin() + index, s);
}

void TLineList::Delete(int index) {
  Check(index, Count() - 1);
  Lines.erase(Lines.begin() + index);
}

int TLineList::IndexOf(const std::string& s) const {
  for (size_t i = 0; i < Lines.size(); ++i)
    if (Lines[i] == s) return static_cast<int>(i);
  return -1;
}

std::string TLineList::Text() const {
  std::string out;
  for (const std::string& line : Lines) {
    out += line;
    out += "\r\n";
  }
  return out;
}

void TLineList::SetText(std::string_view text) { Lines = SplitLines(text); }

bool TLineList::LoadFromFile(const std::string& fileName) {
  Lines.clear();
  std::string data;
  if (!ReadWholeFile(fileName, data)) return false;
  // NUL bytes: not a line list of ours; better no lines than garbage paths.
  if (data.find('\0') != std::string::npos) return false;
  SetText(data);
  return true;
}

bool TLineList::SaveToFile(const std::string& fileName) const { return WriteFileAtomically(fileName, Text()); }
