#pragma once
// What a file search looks for. A query is also a folder of the namespace (its
// results), so it writes itself as one line of text and reads itself back.
#include <cstdint>
#include <string>
#include <string_view>

enum class TextEncoding : uint8_t { Auto, Utf8, Cp932, EucJp, Utf16 };

struct SearchQuery {
  std::string folder;  // where the walk starts (bytes, absolute)
  std::string masks;   // as typed: "*.jpg *.png | thumb*.*" (after '|' the names left out)
  std::string text;    // UTF-8 as typed; empty looks at names only
  bool regex = false;
  bool matchCase = false;
  TextEncoding encoding = TextEncoding::Auto;
  int64_t minSize = -1, maxSize = -1;        // bytes; -1 open
  int64_t modifiedFrom = 0, modifiedTo = 0;  // Unix seconds; 0 open (To is exclusive)
  bool hidden = false;
  bool followLinks = false;
  bool crossFileSystems = false;
  bool binary = false;  // look for text in files that look binary too

  // "key=value&..." with values percent-encoded; Decode fails on a line
  // without a folder and keeps defaults for keys it does not know.
  std::string Encode() const;
  static bool Decode(std::string_view line, SearchQuery& query);
  bool operator==(const SearchQuery&) const = default;
};

// The parsing name of a results folder: "::search?" + the encoded query.
constexpr std::string_view kSearchParsePrefix = "::search?";
std::string SearchParseName(const SearchQuery& query);
bool IsSearchParseName(std::string_view name);
