#pragma once
// A list of name masks as the filter edit takes them: separated by blanks or
// commas, a mask in double quotes may hold both ("" is one quote). For a search
// the masks after a '|' leave names out: "*.jpg *.png | thumb*.*".
#include <string>
#include <string_view>
#include <vector>

// The masks of a list, without empty ones.
std::vector<std::string> SplitMaskList(const std::string& text);

class NameMasks {
 public:
  explicit NameMasks(const std::string& text);
  // A name matches one of the masks before the '|' (every name when there
  // are none, or only "*.*") and none after it.
  bool Matches(std::string_view name) const;

 private:
  std::vector<std::string> include_, exclude_;
  bool all_ = true;
};
