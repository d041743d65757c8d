#pragma once
// The text of a network location's folder in the namespace, where it has no
// path on the disk: its root URI ("sftp://user@host:22/") followed by the names
// inside, each percent-escaped. Only text here; the network layer reads them.
#include <string>
#include <string_view>
#include <vector>

// The root and the plain names of a location URI ("scheme://authority/a/b");
// false for anything else, or for a name "." / ".." / with a NUL.
bool SplitLocationUri(std::string_view uri, std::string& root, std::vector<std::string>& names);
// root followed by names, escaped as GIO escapes a path element.
std::string JoinLocationUri(std::string_view root, const std::vector<std::string>& names);
// The URI of the child name of the folder uri.
std::string LocationChildUri(std::string_view folder, std::string_view name);
