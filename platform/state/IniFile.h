#pragma once
// platform/state: stands in for the framework's INI files, string lists and the
// registry, and chooses the state folder. Uses system alone. Every write is
// atomic; nothing here asks the user.
//
// The INI file: sections of key=value lines, read Windows-style. Section and
// key names are compared without regard to ASCII case; keys and values lose
// the blanks around them; the first of several equal sections or keys is the
// one that counts. The file is read once when the object is made; writes
// change memory and reach the disk, atomically, in UpdateFile or the
// destructor. A missing, empty, binary or damaged file reads as empty, so
// every read yields its default; nothing here throws.
#include <string>
#include <vector>

class TIniFile {
 public:
  explicit TIniFile(std::string fileName);
  ~TIniFile();  // writes pending changes
  TIniFile(const TIniFile&) = delete;
  TIniFile& operator=(const TIniFile&) = delete;

  const std::string& FileName() const { return fileName_; }

  std::string ReadString(const std::string& Section, const std::string& Ident, const std::string& Default) const;
  // Decimal, "$hex" or "0xhex", with an optional sign; Default for anything else.
  int ReadInteger(const std::string& Section, const std::string& Ident, int Default) const;
  // Stored as an integer, non-zero is true.
  bool ReadBool(const std::string& Section, const std::string& Ident, bool Default) const;

  // A section, key or value holding a line break has it replaced by a blank;
  // a key that could not be read back (empty, holding '=', starting with '['
  // or ';') or a section name holding ']' is not written.
  void WriteString(const std::string& Section, const std::string& Ident, const std::string& Value);
  void WriteInteger(const std::string& Section, const std::string& Ident, int Value);
  void WriteBool(const std::string& Section, const std::string& Ident, bool Value);

  // Keys of a section, in file order.
  void ReadSection(const std::string& Section, std::vector<std::string>& Strings) const;
  // Names of all sections, in file order.
  void ReadSections(std::vector<std::string>& Strings) const;
  // "key=value" lines of a section.
  void ReadSectionValues(const std::string& Section, std::vector<std::string>& Strings) const;
  // True when the section holds at least one key.
  bool SectionExists(const std::string& Section) const;
  bool ValueExists(const std::string& Section, const std::string& Ident) const;
  void EraseSection(const std::string& Section);
  void DeleteKey(const std::string& Section, const std::string& Ident);

  // Writes pending changes; true when there were none or they were written.
  bool UpdateFile();

 private:
  struct Line {
    std::string text;    // the line as it is written
    bool entry = false;  // a key=value line
    std::string key;     // trimmed, as spelled in the file
    std::string value;   // trimmed
  };
  struct Section {
    std::string name;
    bool header = true;  // false for the lines before the first section
    std::vector<Line> lines;
  };

  void Parse(const std::string& data);
  std::string Serialize() const;
  Section* FindSection(const std::string& name);
  const Section* FindSection(const std::string& name) const;
  static const Line* FindKey(const Section& section, const std::string& key);

  std::string fileName_;
  std::vector<Section> sections_;
  bool dirty_ = false;
};

// Reads a whole integer the way the INI file does: optional blanks and sign,
// then decimal digits, "$" or "0x" and hex digits; false for anything else or
// a value outside 32 bits.
bool TryStrToInt(const std::string& text, int& value);
