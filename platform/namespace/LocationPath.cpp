#include "platform/namespace/LocationPath.h"

#include <cctype>

#include "platform/namespace/ShellFolderBase.h"

namespace {

bool Kept(unsigned char c) {
  // Unreserved, and what a path element may hold as it is (RFC 3986).
  return std::isalnum(c) || std::string_view("-._~!$&'()*+,;=:@").find(static_cast<char>(c)) != std::string_view::npos;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Unescape(std::string_view text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
    if (high < 0 || low < 0) return false;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

}  // namespace

bool SplitLocationUri(std::string_view uri, std::string& root, std::vector<std::string>& names) {
  root.clear();
  names.clear();
  const size_t scheme = uri.find("://");
  if (scheme == std::string_view::npos || scheme == 0 || !std::isalpha(static_cast<unsigned char>(uri[0])))
    return false;
  for (char c : uri.substr(0, scheme))
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return false;
  if (uri.substr(0, scheme) == "file") return false;
  const size_t slash = uri.find('/', scheme + 3);
  const std::string_view authority =
      uri.substr(scheme + 3, slash == std::string_view::npos ? slash : slash - scheme - 3);
  if (authority.empty() || authority.find_first_of("?#") != std::string_view::npos) return false;
  root = std::string(uri.substr(0, scheme + 3)) + std::string(authority) + "/";
  if (slash == std::string_view::npos) return true;
  std::string_view rest = uri.substr(slash + 1);
  if (rest.find_first_of("?#") != std::string_view::npos) return false;
  while (!rest.empty()) {
    const size_t next = rest.find('/');
    const std::string_view part = rest.substr(0, next);
    rest = next == std::string_view::npos ? std::string_view() : rest.substr(next + 1);
    if (part.empty()) continue;
    std::string name;
    if (!Unescape(part, name) || !IsValidChildName(name)) return false;
    names.push_back(std::move(name));
  }
  return true;
}

std::string JoinLocationUri(std::string_view root, const std::vector<std::string>& names) {
  std::string uri(root);
  for (size_t i = 0; i < names.size(); ++i) {
    if (uri.empty() || uri.back() != '/') uri += '/';
    static const char kHex[] = "0123456789ABCDEF";
    for (unsigned char c : names[i]) {
      if (Kept(c)) {
        uri += static_cast<char>(c);
      } else {
        uri += '%';
        uri += kHex[c >> 4];
        uri += kHex[c & 15];
      }
    }
  }
  return uri;
}

std::string LocationChildUri(std::string_view folder, std::string_view name) {
  return JoinLocationUri(folder, {std::string(name)});
}
