// libFuzzer target for one archiver library (built once per library with ARC_PREFIX and
// ARC_DIALECT): the first byte chooses between an archive for the listing entries and the
// extract command, and a command line for the command entry.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "archive/ArchiverLibraryApi.h"

#define ARC_CAT2(a, b) a##b
#define ARC_CAT(a, b) ARC_CAT2(a, b)
#define ARC_FN(suffix) ARC_CAT(ARC_PREFIX, suffix)

extern "C" {
int ARC_PREFIX(ArcHWND, const char*, char*, uint32_t);
HARC ARC_FN(OpenArchive)(ArcHWND, const char*, uint32_t);
int ARC_FN(CloseArchive)(HARC);
int ARC_FN(FindFirst)(HARC, const char*, ArcIndividualInfo*);
int ARC_FN(FindNext)(HARC, ArcIndividualInfo*);
int ARC_FN(CheckArchive)(const char*, int);
int ARC_FN(GetWriteTimeEx)(HARC, ArcFileTime*);
int ARC_FN(GetOriginalSizeEx)(HARC, int64_t*);
int ARC_FN(GetCompressedSizeEx)(HARC, int64_t*);
int ARC_FN(ExtractMem)(ArcHWND, const char*, void*, uint32_t, int64_t*, uint16_t*, uint32_t*);
}

namespace {

// Everything happens in a folder of its own, which is also the working folder, so a
// fuzzed command line can only touch names inside it.
const std::string& Sandbox() {
  static std::string dir = [] {
    char templ[] = "/tmp/tolvane-fuzz-XXXXXX";
    std::string d = mkdtemp(templ);
    if (chdir(d.c_str()) != 0) abort();
    return d;
  }();
  return dir;
}

// No switch to replace: what is already in the destination must stay as it is.
std::string ExtractLine(const std::string& archive, const std::string& dest) {
  const std::string a = "\"" + archive + "\"", d = "\"" + dest + "/\"";
#if ARC_DIALECT == 0  // LHA
  return "x -+ -x1 -jse1 -jso1  " + a + " " + d + " ";
#elif ARC_DIALECT == 1  // tar
  return "x -f " + a + " -o " + d;
#elif ARC_DIALECT == 2  // 7z
  return "x \"-o" + dest + "/\"  " + a;
#else                   // ZIP, CAB, RAR
  return "-x  " + a + " " + d + " ";
#endif
}

struct Snapshot {
  std::string content;
  struct stat st {};
};

Snapshot Take(const std::string& path) {
  Snapshot s;
  lstat(path.c_str(), &s.st);
  FILE* f = fopen(path.c_str(), "rb");
  if (f) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.content.append(buf, n);
    fclose(f);
  }
  return s;
}

void Expect(bool ok, const char* what, const std::string& name) {
  if (ok) return;
  fprintf(stderr, "%s: %s\n", what, name.c_str());
  abort();
}

bool Same(const Snapshot& a, const Snapshot& b) {
  return a.content == b.content && a.st.st_ino == b.st.st_ino && a.st.st_mode == b.st.st_mode &&
         a.st.st_mtim.tv_sec == b.st.st_mtim.tv_sec && a.st.st_mtim.tv_nsec == b.st.st_mtim.tv_nsec;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& box = Sandbox();
  if (size < 1) return 0;
  char out[512];
  if (data[0] & 1) {
    // A command line: no "/" so that no name leaves the sandbox.
    std::string line(reinterpret_cast<const char*>(data + 1), size - 1);
    for (char& c : line)
      if (c == '/' || c == '\0') c = '_';
    ARC_PREFIX(nullptr, line.c_str(), out, sizeof out);
    ARC_PREFIX(nullptr, line.c_str(), nullptr, 0);
    int64_t t;
    uint16_t attr;
    uint32_t written;
    char buf[64];
    ARC_FN(ExtractMem)(nullptr, line.c_str(), buf, sizeof buf, &t, &attr, &written);
    // What a fuzzed command made (an archive, an extraction) goes, so that the extraction
    // check of the next archive input starts from an empty sandbox.
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(box, ec)) std::filesystem::remove_all(e.path(), ec);
  } else {
    const std::string file = box + "/input.arc";
    FILE* f = fopen(file.c_str(), "wb");
    if (!f) abort();
    fwrite(data + 1, 1, size - 1, f);
    fclose(f);
    if (HARC h = ARC_FN(OpenArchive)(nullptr, file.c_str(), 0)) {
      ArcIndividualInfo info;
      int n = 0;
      for (int r = ARC_FN(FindFirst)(h, "*.*", &info); r == 0 && n < 100000; r = ARC_FN(FindNext)(h, &info), ++n) {
        ArcFileTime ft;
        int64_t s;
        ARC_FN(GetWriteTimeEx)(h, &ft);
        ARC_FN(GetOriginalSizeEx)(h, &s);
        ARC_FN(GetCompressedSizeEx)(h, &s);
      }
      ARC_FN(FindFirst)(h, "*a*", &info);
      ARC_FN(CloseArchive)(h);
    }
    ARC_FN(CheckArchive)(file.c_str(), ARC_CHECKARCHIVE_FULLCRC);
    // The destination holds files and a link to a folder beside it before the extraction;
    // afterwards those, the folder and the archive must be exactly as they were, and
    // nothing new may be anywhere but below the destination.
    const std::string dest = box + "/out", outside = box + "/outside";
    std::error_code ec;
    std::filesystem::create_directories(outside, ec);
    std::filesystem::create_directories(dest, ec);
    const std::vector<std::string> kept = {outside + "/victim", dest + "/existing.txt", dest + "/a.txt", file};
    for (size_t i = 1; i + 1 < kept.size(); ++i) {
      FILE* k = fopen(kept[i].c_str(), "wb");
      if (k) fclose(k);
    }
    if (FILE* v = fopen(kept[0].c_str(), "wb")) {
      fputs("victim", v);
      fclose(v);
    }
    if (symlink("../outside", (dest + "/linkout").c_str()) != 0) abort();
    std::vector<Snapshot> before;
    for (const auto& k : kept) before.push_back(Take(k));
    ARC_PREFIX(nullptr, ExtractLine(file, dest).c_str(), out, sizeof out);
    for (size_t i = 0; i < kept.size(); ++i) Expect(Same(before[i], Take(kept[i])), "changed", kept[i]);
    Expect(std::filesystem::is_symlink(dest + "/linkout", ec), "link replaced", dest + "/linkout");
    for (auto it = std::filesystem::recursive_directory_iterator(box, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      const std::string p = it->path().string();
      if (p == dest) {
        it.disable_recursion_pending();
        continue;
      }
      Expect(p == file || p == outside || p == kept[0], "written outside the destination", p);
    }
    std::filesystem::remove_all(dest, ec);
    std::filesystem::remove_all(outside, ec);
  }
  return 0;
}
