// Extraction and listing through the archive component and the archiver libraries, against
// bsdtar on the same archives in the same run: bench/run.sh archive [work folder]
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>

#include "BenchUtil.h"
#include "archive/ArchiveFile.h"

namespace {

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
}

// Text that deflates about three to one, and data that does not deflate at all.
std::string Text(std::mt19937_64& rng, size_t size) {
  static const char* const words[] = {"archive", "folder", "extract", "tolvane", "pane", "list", "\n",  "zip",
                                      "library", "entry",  "name",    "size",    "time", "data", "0x5c"};
  std::string s;
  s.reserve(size + 16);
  while (s.size() < size) {
    s += words[rng() % (sizeof words / sizeof *words)];
    s += ' ';
    if (rng() % 4 == 0) s += std::to_string(rng() % 100000);
  }
  s.resize(size);
  return s;
}

std::string Random(std::mt19937_64& rng, size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i + 8 <= size; i += 8) {
    uint64_t v = rng();
    memcpy(&s[i], &v, 8);
  }
  return s;
}

bool Run(const std::string& dir, const std::string& cmd) {
  return std::system(("cd '" + dir + "' && " + cmd + " >/dev/null 2>&1").c_str()) == 0;
}

void Remove(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

double ThroughComponent(const std::string& archive, const std::string& dest) {
  TArchiveFile file;
  file.SetFileName(archive);
  file.Options.x = 1;
  file.Options.jso = 1;
  file.Options.jse = 1;
  file.SetOutputSize(4096);
  double start = bench::Now();
  int r = file.Extract(nullptr, nullptr, TFileArgs{}, dest);
  double took = bench::Now() - start;
  if (r != 0) {
    std::fprintf(stderr, "extraction of %s failed (%d): %s\n", archive.c_str(), r, file.OutputText().c_str());
    return -1;
  }
  return took;
}

// Extracts the archive through the component and with bsdtar, alternately; the ratio of the
// medians.
double CompareExtraction(const std::string& work, const std::string& archive, int runs, const char* label) {
  std::vector<double> ours, theirs;
  for (int i = 0; i < runs; ++i) {
    std::string a = work + "/x-ours", b = work + "/x-bsdtar";
    Remove(a);
    Remove(b);
    std::filesystem::create_directories(b);
    sync();
    ours.push_back(ThroughComponent(archive, a));
    sync();
    theirs.push_back(bench::TimeCommand({"bsdtar", "-xf", archive, "-C", b}));
    if (ours.back() < 0 || theirs.back() < 0) return -1;
  }
  Remove(work + "/x-ours");
  Remove(work + "/x-bsdtar");
  std::sort(ours.begin(), ours.end());
  std::sort(theirs.begin(), theirs.end());
  std::printf("# %s: ours median %.3f s (%.3f..%.3f), bsdtar median %.3f s (%.3f..%.3f)\n", label, bench::Median(ours),
              ours.front(), ours.back(), bench::Median(theirs), theirs.front(), theirs.back());
  return bench::Median(ours) / bench::Median(theirs);
}

}  // namespace

int main(int argc, char** argv) {
  std::string work = bench::WorkFolder(argc, argv, "tolvane-archive-bench");
  if (work.empty()) {
    std::fprintf(stderr, "no work folder\n");
    return 1;
  }
  std::mt19937_64 rng(14);
  // A ZIP of about 200 MB of mixed files.
  std::string mixed = work + "/mixed";
  for (int d = 0; d < 20; ++d) std::filesystem::create_directories(mixed + "/d" + std::to_string(d));
  for (int i = 0; i < 90; ++i)
    WriteFile(mixed + "/d" + std::to_string(i % 20) + "/bin" + std::to_string(i) + ".dat", Random(rng, 1500000));
  for (int i = 0; i < 300; ++i)
    WriteFile(mixed + "/d" + std::to_string(i % 20) + "/text" + std::to_string(i) + ".txt", Text(rng, 500000));
  for (int i = 0; i < 2000; ++i)
    WriteFile(mixed + "/d" + std::to_string(i % 20) + "/small" + std::to_string(i) + ".txt",
              Text(rng, 1000 + rng() % 9000));
  // Many small files.
  std::string small = work + "/small";
  for (int d = 0; d < 100; ++d) std::filesystem::create_directories(small + "/d" + std::to_string(d));
  for (int i = 0; i < 10000; ++i)
    WriteFile(small + "/d" + std::to_string(i % 100) + "/f" + std::to_string(i) + ".txt",
              Text(rng, 200 + rng() % 3000));
  if (!Run(mixed, "zip -qr ../mixed.zip .") || !Run(small, "bsdtar -czf ../small.tgz . && zip -qr ../small.zip .")) {
    std::fprintf(stderr, "making the archives failed\n");
    return 1;
  }
  Remove(mixed);
  Remove(small);
  std::printf("# work folder %s, mixed.zip %.0f MB\n", work.c_str(),
              std::filesystem::file_size(work + "/mixed.zip") / 1e6);

  double zipRatio = CompareExtraction(work, work + "/mixed.zip", 5, "extract_zip");
  double tgzRatio = CompareExtraction(work, work + "/small.tgz", 7, "extract_tgz");

  // Listing a ZIP of 10,000 entries through the ZIP archiver's binding.
  std::vector<double> lists;
  int count = 0;
  for (int i = 0; i < 7; ++i) {
    TArchiveFile file;
    file.SetFileName(work + "/small.zip");
    double start = bench::Now();
    HARC h = file.Archiver()->OpenArchive(nullptr, work + "/small.zip", 0);
    TArchiveEntryInfo info{};
    count = 0;
    for (int r = file.Archiver()->FindFirst(h, &info, "*.*"); r == 0; r = file.Archiver()->FindNext(h, &info)) ++count;
    file.Archiver()->CloseArchive(h);
    lists.push_back((bench::Now() - start) * 1000);
  }
  std::sort(lists.begin(), lists.end());
  std::printf("# list: %d entries, %.1f..%.1f ms\n", count, lists.front(), lists.back());
  std::printf("extract_zip_vs_bsdtar=%.2f\n", zipRatio);
  std::printf("extract_tgz_vs_bsdtar=%.2f\n", tgzRatio);
  std::printf("list_zip_10k_ms=%.1f\n", bench::Median(lists));
  Remove(work);
  return zipRatio < 0 || tgzRatio < 0 || count < 10000 ? 1 : 0;
}
