#pragma once
// What both network benchmarks read on the server: a folder of 10,000 files
// of assorted sizes and a 100 MB file of varied bytes, under remote.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "BenchUtil.h"

namespace bench {

// The folder of 10,000 files; the big file is remote + "/big.bin".
inline std::string MakeNetworkBenchFiles(const std::string& remote) {
  const std::string folder = remote + "/k10";
  std::filesystem::create_directories(folder);
  for (int i = 0; i < 10000; ++i) {
    const int fd = ::open((folder + "/file_" + std::to_string(i) + ".txt").c_str(), O_CREAT | O_WRONLY, 0644);
    if (fd >= 0 && ::ftruncate(fd, (i * 7919) % 65536) == 0) ::close(fd);
  }
  std::ofstream big(remote + "/big.bin", std::ios::binary);
  std::string block(1 << 20, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 2654435761u >> 13);
  for (int i = 0; i < 100; ++i) big << block;
  return folder;
}

// The big file down into an emptied folder, ours then `gio copy`, runs times
// each; the folder is gone after.
inline void TimeCopiesDown(const std::function<double(const std::string&)>& ours, const std::string& bigUri,
                           const std::string& down, int runs, std::vector<double>& oursTimes,
                           std::vector<double>& gioTimes) {
  for (int run = 0; run < runs; ++run) {
    std::filesystem::remove_all(down);
    std::filesystem::create_directories(down);
    oursTimes.push_back(ours(down));
    std::filesystem::remove_all(down);
    std::filesystem::create_directories(down);
    gioTimes.push_back(TimeCommand({"gio", "copy", bigUri, down + "/big.bin"}));
  }
  std::filesystem::remove_all(down);
}

}  // namespace bench
