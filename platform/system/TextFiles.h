#pragma once
// Reading the head of a text file and converting legacy encodings, for the
// text preview: the file calls and the C library's converter live here.
#include <cstddef>
#include <string>
#include <string_view>

// Reads at most limit + 1 bytes of the regular file path into data, never
// waiting on a pipe or device named like a file. 0 on success, an errno
// value on a failed call, -1 when path is not a regular file.
int ReadFileHead(const std::string& path, size_t limit, std::string& data);

// Converts bytes from the encoding from (or alternative, where the C library
// knows only that name) into UTF-16. A character that cannot be mapped, or a
// cut one at the end, becomes one U+FFFD; charLength tells how many bytes the
// character at an offset takes. False when neither encoding is known.
bool ConvertToUtf16(std::string_view bytes, const char* from, const char* alternative,
                    size_t (*charLength)(std::string_view, size_t), std::u16string& out);
