#include "platform/state/IniFile.h"

#include <algorithm>
#include <cstdint>

#include "platform/state/AtomicFile.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

std::string NoLineBreaks(std::string s) {
  for (char& c : s)
    if (c == '\r' || c == '\n') c = ' ';
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool TryStrToInt(const std::string& text, int& value) {
  std::string s = Trim(text);
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  bool hex = false;
  if (i < s.size() && s[i] == '$') {
    hex = true;
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= s.size()) return false;
  uint64_t n = 0;
  for (; i < s.size(); ++i) {
    int d = hex ? HexDigit(s[i]) : ((s[i] >= '0' && s[i] <= '9') ? s[i] - '0' : -1);
    if (d < 0) return false;
    n = n * (hex ? 16 : 10) + static_cast<uint64_t>(d);
    if (n > 0xFFFFFFFFull) return false;
  }
  int64_t result;
  if (hex) {
    // Hex spells the bit pattern: $FFFFFFFF is -1.
    result = static_cast<int32_t>(static_cast<uint32_t>(n));
    if (negative) result = -result;
    if (result < INT32_MIN || result > INT32_MAX) return false;
  } else {
    result = negative ? -static_cast<int64_t>(n) : static_cast<int64_t>(n);
    if (result < INT32_MIN || result > INT32_MAX) return false;
  }
  value = static_cast<int>(result);
  return true;
}

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)) {
  std::string data;
  if (ReadWholeFile(fileName_, data)) Parse(data);
  if (sections_.empty() || sections_.front().header) sections_.insert(sections_.begin(), Section{"", false, {}});
}

TIniFile::~TIniFile() { UpdateFile(); }

void TIniFile::Parse(const std::string& data) {
  sections_.clear();
  // NUL bytes mean this is no text file of ours; treat it as empty.
  if (data.find('\0') != std::string::npos) return;
  size_t pos = 0;
  if (data.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
  sections_.push_back(Section{"", false, {}});
  while (pos < data.size()) {
    size_t end = data.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = data.size();
    Line line;
    line.text = data.substr(pos, end - pos);
    pos = end;
    if (pos < data.size() && data[pos] == '\r')
      ++pos;
    else if (pos < data.size() && data[pos] == '\n')
      ++pos;
    if (pos < data.size() && pos > 0 && data[pos - 1] == '\r' && data[pos] == '\n') ++pos;

    std::string trimmed = Trim(line.text);
    if (!trimmed.empty() && trimmed[0] == '[') {
      size_t close = trimmed.find(']');
      std::string name = Trim(trimmed.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      sections_.push_back(Section{name, true, {}});
      continue;
    }
    if (!trimmed.empty() && trimmed[0] != ';') {
      size_t eq = trimmed.find('=');
      if (eq != std::string::npos) {
        line.entry = true;
        line.key = Trim(trimmed.substr(0, eq));
        line.value = Trim(trimmed.substr(eq + 1));
        if (line.key.empty()) line.entry = false;
      }
    }
    sections_.back().lines.push_back(std::move(line));
  }
}

std::string TIniFile::Serialize() const {
  std::string out;
  for (const Section& s : sections_) {
    if (s.header) out += "[" + s.name + "]\r\n";
    for (const Line& l : s.lines) out += l.text + "\r\n";
  }
  return out;
}

TIniFile::Section* TIniFile::FindSection(const std::string& name) {
  for (Section& s : sections_)
    if (s.header && SameText(s.name, name)) return &s;
  return nullptr;
}

const TIniFile::Section* TIniFile::FindSection(const std::string& name) const {
  return const_cast<TIniFile*>(this)->FindSection(name);
}

const TIniFile::Line* TIniFile::FindKey(const Section& section, const std::string& key) {
  for (const Line& l : section.lines)
    if (l.entry && SameText(l.key, key)) return &l;
  return nullptr;
}

std::string TIniFile::ReadString(const std::string& Section, const std::string& Ident,
                                 const std::string& Default) const {
  const auto* s = FindSection(Trim(Section));
  const Line* l = s ? FindKey(*s, Trim(Ident)) : nullptr;
  return l ? l->value : Default;
}

int TIniFile::ReadInteger(const std::string& Section, const std::string& Ident, int Default) const {
  int value;
  return TryStrToInt(ReadString(Section, Ident, ""), value) ? value : Default;
}

bool TIniFile::ReadBool(const std::string& Section, const std::string& Ident, bool Default) const {
  return ReadInteger(Section, Ident, Default ? 1 : 0) != 0;
}

void TIniFile::WriteString(const std::string& Section, const std::string& Ident, const std::string& Value) {
  std::string section = Trim(NoLineBreaks(Section));
  std::string key = Trim(NoLineBreaks(Ident));
  std::string value = Trim(NoLineBreaks(Value));
  if (section.find(']') != std::string::npos) return;
  if (key.empty() || key.find('=') != std::string::npos || key[0] == '[' || key[0] == ';') return;

  auto* s = FindSection(section);
  if (!s) {
    sections_.push_back(TIniFile::Section{section, true, {}});
    s = &sections_.back();
  }
  for (Line& l : s->lines) {
    if (l.entry && SameText(l.key, key)) {
      if (l.value == value) return;
      l.value = value;
      l.text = l.key + "=" + value;
      dirty_ = true;
      return;
    }
  }
  // A new key goes after the section's last non-blank line, before the blank
  // lines that separate it from the next section.
  auto at = s->lines.end();
  while (at != s->lines.begin() && Trim((at - 1)->text).empty()) --at;
  Line line;
  line.entry = true;
  line.key = key;
  line.value = value;
  line.text = key + "=" + value;
  s->lines.insert(at, std::move(line));
  dirty_ = true;
}

void TIniFile::WriteInteger(const std::string& Section, const std::string& Ident, int Value) {
  WriteString(Section, Ident, std::to_string(Value));
}

void TIniFile::WriteBool(const std::string& Section, const std::string& Ident, bool Value) {
  WriteString(Section, Ident, Value ? "1" : "0");
}

void TIniFile::ReadSection(const std::string& Section, std::vector<std::string>& Strings) const {
  Strings.clear();
  if (const auto* s = FindSection(Trim(Section)))
    for (const Line& l : s->lines)
      if (l.entry) Strings.push_back(l.key);
}

void TIniFile::ReadSections(std::vector<std::string>& Strings) const {
  Strings.clear();
  for (const Section& s : sections_)
    if (s.header) Strings.push_back(s.name);
}

void TIniFile::ReadSectionValues(const std::string& Section, std::vector<std::string>& Strings) const {
  Strings.clear();
  if (const auto* s = FindSection(Trim(Section)))
    for (const Line& l : s->lines)
      if (l.entry) Strings.push_back(l.key + "=" + l.value);
}

bool TIniFile::SectionExists(const std::string& Section) const {
  const auto* s = FindSection(Trim(Section));
  return s && std::any_of(s->lines.begin(), s->lines.end(), [](const Line& l) { return l.entry; });
}

bool TIniFile::ValueExists(const std::string& Section, const std::string& Ident) const {
  const auto* s = FindSection(Trim(Section));
  return s && FindKey(*s, Trim(Ident));
}

void TIniFile::EraseSection(const std::string& Section) {
  std::string name = Trim(Section);
  auto removed = std::remove_if(sections_.begin(), sections_.end(),
                                [&](const TIniFile::Section& s) { return s.header && SameText(s.name, name); });
  if (removed == sections_.end()) return;
  sections_.erase(removed, sections_.end());
  dirty_ = true;
}

void TIniFile::DeleteKey(const std::string& Section, const std::string& Ident) {
  auto* s = FindSection(Trim(Section));
  if (!s) return;
  std::string key = Trim(Ident);
  // Every copy goes, so that a later duplicate does not show through.
  auto removed =
      std::remove_if(s->lines.begin(), s->lines.end(), [&](const Line& l) { return l.entry && SameText(l.key, key); });
  if (removed == s->lines.end()) return;
  s->lines.erase(removed, s->lines.end());
  dirty_ = true;
}

bool TIniFile::UpdateFile() {
  if (!dirty_) return true;
  if (!WriteFileAtomically(fileName_, Serialize())) return false;
  dirty_ = false;
  return true;
}
