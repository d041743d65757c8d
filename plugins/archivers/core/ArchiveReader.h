#pragma once
// Reading an archive of the formats one library handles, entry by entry.
#include <archive.h>
#include <archive_entry.h>
#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace arc {

// What one library reads.
struct ReadFormats {
  void (*enable)(struct archive* a);  // the libarchive formats and filters
  bool singleFiles = false;           // a compressed single file (.gz, .bz2, .Z) is an archive of one entry
  bool sevenZipKeys = false;          // encrypted 7z is decrypted with a password from passwordSource
};

// Data of one entry, with its name already UTF-8.
struct EntryData {
  std::string name;      // as stored, "/" separated; folders may end in "/"
  std::string symlink;   // target of a symbolic link, else empty
  std::string hardlink;  // earlier entry this one is a hard link to, else empty
  mode_t type = 0;       // AE_IFREG, AE_IFDIR, AE_IFLNK ...
  mode_t perm = 0644;
  int64_t size = 0;
  bool sizeKnown = false;
  int64_t mtime = 0, atime = 0, birthtime = 0;  // seconds since 1970
  long mtimeNsec = 0, atimeNsec = 0, birthNsec = 0;
  bool mtimeSet = false, atimeSet = false, birthtimeSet = false;
  // From a ZIP's central directory when known.
  uint32_t crc = 0;
  int64_t compressedSize = -1;
  std::string method;
  uint32_t osType = 0;
};

class ArchiveReader {
 public:
  ArchiveReader() = default;
  ~ArchiveReader();
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;

  // Opens and reads nothing yet; false with a message when the file cannot be opened or
  // is not a regular file (a FIFO or a device is refused without blocking on it).
  bool Open(const std::string& path, const ReadFormats& formats);
  // ARCHIVE_OK (entry read), ARCHIVE_EOF, or ARCHIVE_FATAL with error().
  // Recoverable warnings of libarchive are passed over (the entry is still read).
  int Next(EntryData& out);
  struct archive* handle() {
    return a_;
  }
  struct archive_entry* entry() {
    return entry_;
  }
  const std::string& error() const { return error_; }
  const std::string& path() const { return path_; }
  // The archive file read (device and inode of the opened descriptor) and its size.
  dev_t device() const { return dev_; }
  ino_t inode() const { return ino_; }
  int64_t fileSize() const { return fileSize_; }
  // The sum of the entries' sizes as the archive declares it, -1 when it is not told
  // without decompressing the whole archive. Known after the first entry.
  int64_t declaredTotal();
  // Asked for a password whenever an encrypted entry needs one: again is true when the
  // last one given was wrong. False: no password (the entry fails).
  std::function<bool(bool again, std::string& password)> passwordSource;
  // After Next failed: a 7z whose headers (the names too) are encrypted, which libarchive
  // cannot read.
  bool headerEncrypted() const { return headerEncrypted_; }
  // Whether a password was handed to the library for the current entry.
  bool passwordGiven() const { return passwordAsks_ > 0; }
  // The user was asked for a password and gave none.
  bool passwordRefused() const { return passwordRefused_; }
  // An encrypted 7z read from its decrypted copy: a data error then means a wrong password.
  bool decrypted() const { return decrypted_; }
  // Next failed before reading anything because the decrypted copy could not be made;
  // error() says why in a whole sentence.
  bool decryptFailed() const { return decryptFailed_; }
  // libarchive's filter (gzip, bzip2, ...) and format codes after the first entry.
  int filterCode() const;
  int formatCode() const;
  void Close();

 private:
  void LoadZipDirectory();
  bool TakeOutEncryption();
  // A libarchive reader on fd_ with the formats; false with error_.
  bool StartLibarchive();
  static const char* PassphraseCallback(struct archive*, void* self);

  struct archive* a_ = nullptr;
  int fd_ = -1;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  int64_t fileSize_ = 0;
  timespec mtime_{};
  int64_t declaredTotal_ = -1;
  int passwordAsks_ = 0;
  bool passwordRefused_ = false;
  std::string password_;
  struct archive_entry* entry_ = nullptr;
  std::string path_;
  std::string error_;
  ReadFormats formats_{};
  bool first_ = true;
  bool zipDirectoryTried_ = false;
  bool totalRead_ = false;
  bool headerEncrypted_ = false;
  bool decryptTried_ = false;
  bool decrypted_ = false;
  bool decryptFailed_ = false;
  struct ZipRecord {
    uint32_t crc;
    int64_t compressed;
    uint16_t method;
    uint8_t host;
  };
  std::multimap<std::string, ZipRecord> zip_;
};

// Last component without a trailing "/".
std::string BaseName(const std::string& name);
// The name a compressed single file stands for: "a.txt.gz" -> "a.txt", "a.tgz" -> "a.tar".
std::string SingleFileName(const std::string& archivePath);

}  // namespace arc
