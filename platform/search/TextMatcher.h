#pragma once
// Looks for a text in a file's bytes, block by block: the text is written in
// each encoding asked for and found with a plain byte search, so no file is
// ever decoded for a plain search; a regular expression decodes the file a
// block at a time. No file is ever held whole in memory.
#include <QRegularExpression>
#include <atomic>
#include <string>
#include <vector>

#include "platform/search/SearchQuery.h"

class TextMatcher {
 public:
  // Fills the needles or the expression; false with a Japanese message when
  // the expression is bad or the text cannot be written in the encoding.
  bool Prepare(const SearchQuery& query, std::string& error);
  bool Empty() const { return needles_.empty() && !regex_; }

  // Reads the open file from its start. True when the text is found; false
  // when not, on a read error, for a binary file (unless binary files are
  // asked for) and when cancel turns true. buffer is the caller's scratch.
  bool MatchFile(int fd, std::vector<char>& buffer, const std::atomic<bool>& cancel) const;

  static constexpr size_t kBlockSize = 1 << 20;

 private:
  struct Needle {
    std::string bytes;
    bool folded;      // compared with ASCII letters folded to lower case
    size_t rare = 0;  // the needle's least common byte in ordinary text, looked for first
  };
  static const char* Find(const char* hay, size_t size, const Needle& needle);
  bool MatchPlain(int fd, std::vector<char>& buffer, const std::atomic<bool>& cancel) const;
  bool MatchRegex(int fd, std::vector<char>& buffer, const std::atomic<bool>& cancel) const;
  bool LooksBinary(const char* data, size_t size) const;

  std::vector<Needle> needles_;
  size_t longest_ = 0;
  bool anyFolded_ = false;
  bool regex_ = false;
  QRegularExpression expression_;
  TextEncoding encoding_ = TextEncoding::Auto;
  bool binary_ = false;
};

// The text converted from UTF-8 to the encoding ("CP932", "EUC-JP",
// "UTF-16LE"...); false when a character has no place in it.
bool ConvertFromUtf8(const std::string& text, const char* encoding, std::string& out);
