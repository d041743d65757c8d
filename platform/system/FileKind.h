#pragma once
// What a file is, told by the opened descriptor, never by its name, and without waiting
// on a FIFO or a device that only looks like a file.
#include <string>

// 0 when path is a regular file (links followed), -1 when it is something else (a FIFO, a
// device, a socket, a folder), else the errno value of the failed open.
int CheckRegularFile(const std::string& path);
