#include "archive/ArchiveUpdate.h"

#include <unistd.h>

#include <cctype>
#include <exception>
#include <filesystem>
#include <memory>

#include "archive/ArchiveFile.h"
#include "archive/ArchiveListing.h"
#include "platform/namespace/PathText.h"

namespace {

// The owner window the library reports to while it writes: each entry goes
// to the caller's progress, whose false stops the library.
struct ProgressRelay {
  ArcWindow window{};
  ArchiveWriteProgress progress;
  bool stopped = false;

  explicit ProgressRelay(ArchiveWriteProgress p) : progress(std::move(p)) {
    window = ArcWindow{ARC_WINDOW_MAGIC, sizeof(ArcWindow), this, &Message, nullptr};
  }
  static intptr_t Message(void* context, uint32_t, uintptr_t state, intptr_t lparam) {
    auto* relay = static_cast<ProgressRelay*>(context);
    if (relay->stopped) return 1;
    if ((state == ARCEXTRACT_BEGIN || state == ARCEXTRACT_INPROCESS) && lparam && relay->progress) {
      const auto* info = reinterpret_cast<const ArcExtractingInfoEx*>(lparam);
      if (!relay->progress(state == ARCEXTRACT_BEGIN ? info->exinfo.szSourceFileName : "")) relay->stopped = true;
    }
    return relay->stopped ? 1 : 0;
  }
};

// A command-line token of the libraries: quoted, a quote inside doubled.
std::string QuotedSwitch(const std::string& text) {
  std::string out = "\"";
  for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

enum class Call { Pack, Delete };

struct LibraryRun {
  std::string file;  // the archive the library writes
  Call call = Call::Pack;
  std::vector<std::string> names;
  std::string baseFolder;
  std::string storedIn;
  int level = -1;
  std::string password;
};

ArchiveWriteResult RunLibrary(const LibraryRun& run, const ArchiveWriteProgress& progress) {
  ArchiveWriteResult result;
  try {
    TArchiveFile file;
    file.SetFileName(run.file);
    TArchiver* archiver = file.Archiver();
    if (!archiver) {
      result.message = ReadOnlyArchiveMessage(run.file);
      return result;
    }
    TArchiverOptions options;
    options.x = 1;                                    // paths kept
    options.r = 1;                                    // folders with what is in them
    if (file.ArchiverType() == atZip) options.a = 2;  // folder entries too, so empty folders stay
    std::string own = "--exact-names --replace";
    if (!run.storedIn.empty()) own += " " + QuotedSwitch("--stored-in=" + run.storedIn);
    if (!run.password.empty()) own += " " + QuotedSwitch("--password=" + run.password);
    if (run.level >= 0) {
      if (file.ArchiverType() == atZip || file.ArchiverType() == atTgz) options.jm = static_cast<int8_t>(run.level);
      if (file.ArchiverType() == at7z) own += " -mx=" + std::to_string(run.level);
      if (file.ArchiverType() == atTar) own += " -J" + std::to_string(run.level);
    }
    options.UserOptions = own;
    // "./" first: a name that begins with '-' or '@' is still a name.
    std::vector<std::string> names;
    for (const std::string& name : run.names) names.push_back("./" + name);
    TFileArgs files{&names};
    std::string output(64 * 1024, '\0');
    ProgressRelay relay(progress);
    std::string base = run.baseFolder;
    if (!base.empty() && base.back() != '/') base += '/';
    // The libraries report to the owner window set for them, not to the command's.
    archiver->SetOwnerWindowEx(&relay.window, nullptr);
    struct Owner {
      TArchiver* archiver;
      ArcHWND window;
      ~Owner() { archiver->KillOwnerWindowEx(window); }
    } owner{archiver, &relay.window};
    int code = run.call == Call::Pack ? archiver->Pack(&relay.window, run.file, output, false, files, base, options)
                                      : archiver->Delete(&relay.window, run.file, output, false, files, "", options);
    if (code == 0) {
      result.ok = true;
      return result;
    }
    result.cancelled = relay.stopped || code == ARC_ERROR_USER_CANCEL;
    result.message = std::string(output.c_str());
    if (result.message.empty()) result.message = "書庫に書き込めませんでした: " + run.file;
    while (!result.message.empty() && result.message.back() == '\n') result.message.pop_back();
  } catch (const std::exception& e) {
    result.message = e.what();
  }
  return result;
}

bool EndsWithNoCase(const std::string& text, const std::string& tail) {
  if (text.size() < tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[text.size() - tail.size() + i])) !=
        std::tolower(static_cast<unsigned char>(tail[i])))
      return false;
  return true;
}

std::string InnerPath(const std::string& inner, const std::string& name) {
  return inner.empty() ? name : inner + "/" + name;
}

// Reads the new archive back: what was added is there, what was deleted is not.
bool ReadsBack(const std::string& file, const std::vector<std::string>& present, const std::vector<std::string>& absent,
               std::string& error) {
  auto listing = ReadArchiveListing(file, error);
  if (!listing) return false;
  for (const std::string& path : present)
    if (!listing->Find(path)) {
      error = "書き込んだ書庫に見当たりません: " + path;
      return false;
    }
  for (const std::string& stored : absent)
    if (!listing->StoredNamesBelow(CleanEntryName(stored)).empty()) {
      error = "書庫から削除できませんでした: " + stored;
      return false;
    }
  return true;
}

// Rewrites the archive under a working name and puts it in place.
ArchiveWriteResult Rewrite(const std::string& archive, const FileIdentity& listed, LibraryRun run,
                           const std::vector<std::string>& present, const std::vector<std::string>& absent,
                           const ArchiveWriteProgress& progress) {
  ArchiveWriteResult result;
  if (!IsWritableArchive(archive)) {
    result.message = ReadOnlyArchiveMessage(archive);
    return result;
  }
  FileIdentity now;
  if (!ReadFileIdentity(archive, now, result.message)) return result;
  if (!now.SameAs(listed)) {
    result.message = "書庫が読み込んだ後に変更されています。一覧を読み直してからやり直してください: " + archive;
    return result;
  }
  run.file = WorkingNameBeside(archive);
  // now: listed with the file's mode and owner, which the new archive keeps.
  if (!MakeWorkingFile(archive, now, run.file, result.message)) return result;
  result = RunLibrary(run, progress);
  if (result.ok && !ReadsBack(run.file, present, absent, result.message)) result.ok = false;
  if (!result.ok) {
    ::unlink(run.file.c_str());
    return result;
  }
  ReplaceOutcome outcome = ReplaceWithWorkingFile(archive, now, run.file, result.message);
  result.ok = outcome == ReplaceOutcome::Replaced;
  return result;
}

}  // namespace

uint64_t CountPackItems(const std::string& path) {
  uint64_t count = 1;
  std::error_code ec;
  std::filesystem::recursive_directory_iterator it(path, std::filesystem::directory_options::skip_permission_denied,
                                                   ec);
  for (; !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) ++count;
  return count;
}

bool IsWritableArchive(const std::string& archive) {
  switch (DetectArchiverType(archive, true)) {
    case atZip:
    case at7z:
    case atTar:
    case atTgz:
    case atBZ2:
      return true;
    default:
      return false;
  }
}

std::string ReadOnlyArchiveMessage(const std::string& archive) {
  return "この形式の書庫には書き込めません (読み出しのみ): " + BaseName(archive) +
         "\n書き込めるのは ZIP、7z、tar (tar.gz、tar.bz2、tar.xz) の書庫です。";
}

ArchiveWriteResult AddToArchive(const std::string& archive, const FileIdentity& listed, const std::string& sourceFolder,
                                const std::vector<std::string>& names, const std::string& inner,
                                const ArchiveWriteProgress& progress) {
  LibraryRun run;
  run.call = Call::Pack;
  run.names = names;
  run.baseFolder = sourceFolder;
  run.storedIn = inner;
  std::vector<std::string> present;
  for (const std::string& name : names) present.push_back(InnerPath(inner, name));
  return Rewrite(archive, listed, run, present, {}, progress);
}

ArchiveWriteResult DeleteFromArchive(const std::string& archive, const FileIdentity& listed,
                                     const std::vector<std::string>& storedNames,
                                     const ArchiveWriteProgress& progress) {
  LibraryRun run;
  run.call = Call::Delete;
  run.names = storedNames;
  return Rewrite(archive, listed, run, {}, storedNames, progress);
}

const char* PackExtension(PackFormat format) {
  switch (format) {
    case PackFormat::Zip:
      return ".zip";
    case PackFormat::SevenZip:
      return ".7z";
    case PackFormat::TarGz:
      return ".tar.gz";
    case PackFormat::TarXz:
      return ".tar.xz";
  }
  return ".zip";
}

bool PackTakesPassword(PackFormat format) { return format == PackFormat::Zip; }

ArchiveWriteResult PackArchive(const PackRequest& request, const ArchiveWriteProgress& progress) {
  ArchiveWriteResult result;
  if (!request.password.empty() && !PackTakesPassword(request.format)) {
    result.message = "この形式の書庫にはパスワードを付けられません。";
    return result;
  }
  if (NameInUse(request.target)) {
    result.message = "同じ名前のファイルが既にあります: " + request.target;
    return result;
  }
  LibraryRun run;
  run.file = WorkingNameBeside(request.target);
  // The library knows the format by the name's end: the working name has it
  // whatever the user named the archive.
  const std::string extension = PackExtension(request.format);
  if (!EndsWithNoCase(run.file, extension)) run.file += extension;
  run.call = Call::Pack;
  run.names = request.names;
  run.baseFolder = request.sourceFolder;
  run.level = request.level;
  run.password = request.password;
  result = RunLibrary(run, progress);
  if (result.ok && !ReadsBack(run.file, request.names, {}, result.message)) result.ok = false;
  if (result.ok) result.ok = RenameIntoFreeName(run.file, request.target, result.message);
  if (!result.ok) ::unlink(run.file.c_str());
  return result;
}
