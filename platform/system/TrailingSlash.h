#pragma once
// A path without the separators at its end; the root "/" keeps its own.
#include <string>
#include <string_view>

inline std::string_view WithoutTrailingSlash(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  return path;
}

inline std::string WithoutTrailingSlash(std::string path) {
  path.resize(WithoutTrailingSlash(std::string_view(path)).size());
  return path;
}

inline std::string WithoutTrailingSlash(const char* path) { return WithoutTrailingSlash(std::string(path)); }
