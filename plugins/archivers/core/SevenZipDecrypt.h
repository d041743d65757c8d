#pragma once
// 7z archives with encrypted contents or names. libarchive reads 7z but not its AES
// coder, so such an archive is rewritten once, with the password, into a plain 7z on an
// unnamed temporary file that libarchive then reads like any other.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>

namespace arc {

enum class SevenZipKey {
  Plain,        // nothing encrypted: read the archive itself
  Decrypted,    // plainFd holds the plain copy
  NoPassword,   // the user gave none
  Unsupported,  // an encrypted layout this reader does not rewrite
  Failed,       // the archive is broken or the copy could not be written (error says why)
};

struct SevenZipCopy {
  SevenZipKey status = SevenZipKey::Plain;
  int plainFd = -1;          // owned by the caller when Decrypted
  bool namesHidden = false;  // the header itself was encrypted
  std::string error;
};

// Whether fd starts with the 7z signature.
bool IsSevenZip(int fd);
// password(again, out) is asked until one opens the archive or it returns false; again
// is true after a wrong one.
SevenZipCopy DecryptSevenZip(int fd, int64_t fileSize, const std::function<bool(bool, std::string&)>& password);

// The AES key of 7z for a password (UTF-8) and the coder's properties; false when the
// properties are malformed or ask for more rounds than a reader should spend.
bool SevenZipAesKey(const std::string& password, const uint8_t* props, size_t size, uint8_t key[32], uint8_t iv[16]);

}  // namespace arc
