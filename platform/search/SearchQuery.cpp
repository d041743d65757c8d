#include "platform/search/SearchQuery.h"

#include <cstdlib>
#include <vector>

namespace {

std::string Escape(std::string_view value) {
  static const char* const hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : value) {
    // Keep the line one line and the separators unambiguous; other bytes pass.
    if (c < 0x21 || c == '%' || c == '&' || c == '=' || c == 0x7f) {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool Unescape(std::string_view value, std::string& out) {
  out.clear();
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '%') {
      out += value[i];
      continue;
    }
    if (i + 2 >= value.size()) return false;
    int hi = HexValue(value[i + 1]), lo = HexValue(value[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

int64_t ToInt(const std::string& text, int64_t fallback) {
  if (text.empty()) return fallback;
  char* end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, 10);
  return end && *end == 0 ? v : fallback;
}

}  // namespace

std::string SearchQuery::Encode() const {
  std::string out = "folder=" + Escape(folder);
  auto add = [&](const char* key, const std::string& value) { out += std::string("&") + key + "=" + Escape(value); };
  add("masks", masks);
  add("text", text);
  add("regex", regex ? "1" : "0");
  add("case", matchCase ? "1" : "0");
  add("encoding", std::to_string(static_cast<int>(encoding)));
  add("min", std::to_string(minSize));
  add("max", std::to_string(maxSize));
  add("from", std::to_string(modifiedFrom));
  add("to", std::to_string(modifiedTo));
  add("hidden", hidden ? "1" : "0");
  add("links", followLinks ? "1" : "0");
  add("mounts", crossFileSystems ? "1" : "0");
  add("binary", binary ? "1" : "0");
  return out;
}

bool SearchQuery::Decode(std::string_view line, SearchQuery& query) {
  SearchQuery q;
  bool haveFolder = false;
  size_t start = 0;
  while (start <= line.size()) {
    size_t end = line.find('&', start);
    if (end == std::string_view::npos) end = line.size();
    std::string_view pair = line.substr(start, end - start);
    start = end + 1;
    size_t eq = pair.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = pair.substr(0, eq);
    std::string value;
    if (!Unescape(pair.substr(eq + 1), value)) return false;
    if (key == "folder") {
      q.folder = value;
      haveFolder = !value.empty() && value[0] == '/';
    } else if (key == "masks") {
      q.masks = value;
    } else if (key == "text") {
      q.text = value;
    } else if (key == "regex") {
      q.regex = value == "1";
    } else if (key == "case") {
      q.matchCase = value == "1";
    } else if (key == "encoding") {
      int64_t e = ToInt(value, 0);
      q.encoding = e >= 0 && e <= 4 ? static_cast<TextEncoding>(e) : TextEncoding::Auto;
    } else if (key == "min") {
      q.minSize = ToInt(value, -1);
    } else if (key == "max") {
      q.maxSize = ToInt(value, -1);
    } else if (key == "from") {
      q.modifiedFrom = ToInt(value, 0);
    } else if (key == "to") {
      q.modifiedTo = ToInt(value, 0);
    } else if (key == "hidden") {
      q.hidden = value == "1";
    } else if (key == "links") {
      q.followLinks = value == "1";
    } else if (key == "mounts") {
      q.crossFileSystems = value == "1";
    } else if (key == "binary") {
      q.binary = value == "1";
    }
  }
  if (!haveFolder) return false;
  query = std::move(q);
  return true;
}

std::string SearchParseName(const SearchQuery& query) { return std::string(kSearchParsePrefix) + query.Encode(); }

bool IsSearchParseName(std::string_view name) {
  return name.substr(0, kSearchParsePrefix.size()) == kSearchParsePrefix;
}
