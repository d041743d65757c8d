#include "shell/actions/NameMasks.h"

#include <algorithm>

#include "shell/actions/Wildcard.h"

std::vector<std::string> SplitMaskList(const std::string& mask) {
  auto blank = [](char c) { return c != 0 && static_cast<unsigned char>(c) <= ' '; };
  std::vector<std::string> masks;
  size_t p = 0, n = mask.size();
  while (p < n) {
    while (p < n && (blank(mask[p]) || mask[p] == ',')) ++p;
    if (p >= n) break;
    std::string token;
    if (mask[p] == '"') {
      // A quoted mask runs to the closing quote; a doubled quote is one quote.
      ++p;
      while (p < n) {
        if (mask[p] == '"') {
          if (p + 1 < n && mask[p + 1] == '"') {
            token += '"';
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        token += mask[p++];
      }
    } else {
      while (p < n && !blank(mask[p]) && mask[p] != ',') token += mask[p++];
    }
    // An empty mask would match every name; a mask of separators only must match none.
    if (!token.empty()) masks.push_back(token);
  }
  return masks;
}

NameMasks::NameMasks(const std::string& text) {
  // The '|' that divides is the first one outside quotes.
  size_t bar = std::string::npos;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"') quoted = !quoted;
    if (text[i] == '|' && !quoted) {
      bar = i;
      break;
    }
  }
  include_ = SplitMaskList(text.substr(0, bar));
  if (bar != std::string::npos) exclude_ = SplitMaskList(text.substr(bar + 1));
  all_ = include_.empty() ||
         std::all_of(include_.begin(), include_.end(), [](const std::string& m) { return m == "*.*" || m == "*"; });
}

bool NameMasks::Matches(std::string_view view) const {
  const std::string name(view);
  auto match = [&](const std::string& m) { return MatchWildcard(name, m); };
  if (!all_ && std::none_of(include_.begin(), include_.end(), match)) return false;
  return std::none_of(exclude_.begin(), exclude_.end(), match);
}
