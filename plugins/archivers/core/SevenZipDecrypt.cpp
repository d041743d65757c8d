#include "SevenZipDecrypt.h"

#include <fcntl.h>
#include <lzma.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "Bytes.h"
#include "SevenZipHeader.h"

namespace arc {

namespace {

using sz::Coder;
using sz::Folder;
using sz::StreamsInfo;

constexpr uint8_t kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
constexpr uint64_t kMaxHeader = 256u << 20;
constexpr size_t kBlock = 1u << 20;
// 7-Zip writes 2^19 rounds; far more would let an archive spend minutes of our time.
constexpr unsigned kMaxCycles = 24;
// How much of the first encrypted stream is decoded to test a password.
constexpr size_t kProbe = 1u << 20;

bool IsAes(const Coder& c) { return c.Is({0x06, 0xF1, 0x07, 0x01}); }
bool IsLzma(const Coder& c) { return c.Is({0x03, 0x01, 0x01}); }
bool IsLzma2(const Coder& c) { return c.Is({0x21}); }
bool IsCopy(const Coder& c) { return c.Is({0x00}); }

bool HasAes(const Folder& f) { return std::any_of(f.coders.begin(), f.coders.end(), IsAes); }

std::string Utf16Le(const std::string& utf8) {
  std::string out;
  auto put = [&](uint32_t u) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>(u >> 8));
  };
  for (size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    uint32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
    bool ok = len > 0 && i + len <= utf8.size();
    for (int k = 1; ok && k < len; ++k) {
      const auto c = static_cast<unsigned char>(utf8[i + k]);
      ok = (c & 0xC0) == 0x80;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (!ok) {
      cp = 0xFFFD;
      len = 1;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(0xD800 | (cp >> 10));
      put(0xDC00 | (cp & 0x3FF));
    } else {
      put(cp);
    }
    i += static_cast<size_t>(len);
  }
  return out;
}

// An AES coder's properties: rounds, salt and IV.
struct AesProps {
  unsigned cycles = 0;
  std::string salt;
  uint8_t iv[16] = {};
};

bool ParseAesProps(const uint8_t* props, size_t size, AesProps& out) {
  if (size < 1) return false;
  out.cycles = props[0] & 0x3F;
  size_t saltSize = 0, ivSize = 0;
  if (props[0] & 0xC0) {
    if (size < 2) return false;
    saltSize = ((props[0] >> 7) & 1) + (props[1] >> 4);
    ivSize = ((props[0] >> 6) & 1) + (props[1] & 0x0F);
    if (2 + saltSize + ivSize > size) return false;
  }
  out.salt.assign(reinterpret_cast<const char*>(props) + 2, saltSize);
  std::memset(out.iv, 0, sizeof out.iv);
  std::memcpy(out.iv, props + 2 + saltSize, ivSize);
  return true;
}

// Keys by salt and rounds: deriving one costs half a million hashes, and every coder of
// an archive has its own IV but usually the same salt.
class Keys {
 public:
  explicit Keys(const std::string& password) : password_(password) {}
  bool For(const Coder& aes, uint8_t key[32], uint8_t iv[16]) {
    AesProps props;
    if (!ParseAesProps(aes.props.data(), aes.props.size(), props)) return false;
    std::memcpy(iv, props.iv, 16);
    const std::string id = std::string(1, static_cast<char>(props.cycles)) + props.salt;
    auto it = cache_.find(id);
    if (it == cache_.end()) {
      std::vector<uint8_t> derived(32);
      uint8_t unused[16];
      if (!SevenZipAesKey(password_, aes.props.data(), aes.props.size(), derived.data(), unused)) return false;
      it = cache_.emplace(id, std::move(derived)).first;
    }
    std::memcpy(key, it->second.data(), 32);
    return true;
  }

 private:
  std::string password_;
  std::map<std::string, std::vector<uint8_t>> cache_;
};

class AesCbc {
 public:
  AesCbc(const uint8_t key[32], const uint8_t iv[16]) : ctx_(EVP_CIPHER_CTX_new()) {
    ok_ = ctx_ && EVP_DecryptInit_ex(ctx_, EVP_aes_256_cbc(), nullptr, key, iv) == 1 &&
          EVP_CIPHER_CTX_set_padding(ctx_, 0) == 1;
  }
  ~AesCbc() { EVP_CIPHER_CTX_free(ctx_); }
  AesCbc(const AesCbc&) = delete;
  AesCbc& operator=(const AesCbc&) = delete;
  // n a multiple of 16; in place.
  bool Run(uint8_t* data, size_t n) {
    int len = 0;
    return ok_ && EVP_DecryptUpdate(ctx_, data, &len, data, static_cast<int>(n)) == 1 && static_cast<size_t>(len) == n;
  }

 private:
  EVP_CIPHER_CTX* ctx_;
  bool ok_ = false;
};

enum class Decode { Ok, Bad, Unsupported };

// Up to `want` bytes of what an LZMA or LZMA2 coder makes of in; Bad on a data error.
Decode RunLzma(const Coder& coder, const std::vector<uint8_t>& in, size_t want, std::vector<uint8_t>& out) {
  lzma_filter filters[2] = {{IsLzma2(coder) ? LZMA_FILTER_LZMA2 : LZMA_FILTER_LZMA1, nullptr},
                            {LZMA_VLI_UNKNOWN, nullptr}};
  if (lzma_properties_decode(&filters[0], nullptr, coder.props.data(), coder.props.size()) != LZMA_OK)
    return Decode::Bad;
  std::unique_ptr<void, void (*)(void*)> options(filters[0].options, free);
  // A dictionary larger than all the output is never used; a hostile one is not allocated.
  auto* lzma = static_cast<lzma_options_lzma*>(filters[0].options);
  lzma->dict_size = static_cast<uint32_t>(std::clamp<uint64_t>(want, 4096, lzma->dict_size));
  lzma_stream strm = LZMA_STREAM_INIT;
  if (lzma_raw_decoder(&strm, filters) != LZMA_OK) return Decode::Bad;
  out.resize(want);
  strm.next_in = in.data();
  strm.avail_in = in.size();
  strm.next_out = out.data();
  strm.avail_out = want;
  Decode result = Decode::Ok;
  while (strm.avail_out > 0) {
    const lzma_ret r = lzma_code(&strm, LZMA_RUN);
    if (r == LZMA_STREAM_END) break;
    if (r != LZMA_OK) {
      result = Decode::Bad;
      break;
    }
    if (strm.avail_in == 0) break;
  }
  out.resize(want - strm.avail_out);
  lzma_end(&strm);
  return result;
}

struct Source {
  int fd;
  int64_t size;
};

bool PackOffset(const Source& src, const StreamsInfo& s, size_t index, uint64_t& at) {
  at = 32 + s.packPos;
  for (size_t i = 0; i < index; ++i) at += s.packSizes[i];
  return at >= 32 && at <= static_cast<uint64_t>(src.size) && s.packSizes[index] <= src.size - at;
}

// Up to `want` bytes of what the coder reading the folder's first pack stream makes of
// it, through the AES layer when one is there; read at most readLimit packed bytes.
// whole: the coder's output is the folder's (no further coder).
Decode DecodeFirstCoder(const Source& src, const StreamsInfo& s, size_t folder, Keys* keys, size_t readLimit,
                        size_t want, std::vector<uint8_t>& out, bool& whole) {
  const Folder& f = s.folders[folder];
  const size_t pack = s.FolderPackStarts()[folder];
  uint64_t at;
  if (!PackOffset(src, s, pack, at)) return Decode::Bad;
  std::vector<uint8_t> data(static_cast<size_t>(std::min<uint64_t>(s.packSizes[pack], readLimit)));
  if (!ReadAt(src.fd, data.data(), data.size(), static_cast<off_t>(at))) return Decode::Bad;
  size_t c = f.CoderOfIn(f.packed[0]);
  if (c >= f.coders.size()) return Decode::Bad;
  auto consumer = [&](size_t coder) -> size_t {
    const uint64_t o = f.FirstOut(coder);
    for (const auto& b : f.binds)
      if (b.out == o) return f.CoderOfIn(b.in);
    return f.coders.size();
  };
  if (IsAes(f.coders[c])) {
    uint8_t key[32], iv[16];
    if (!keys || !keys->For(f.coders[c], key, iv)) return Decode::Unsupported;
    data.resize(data.size() / 16 * 16);
    AesCbc aes(key, iv);
    if (!aes.Run(data.data(), data.size())) return Decode::Unsupported;
    data.resize(static_cast<size_t>(std::min<uint64_t>(data.size(), f.unpackSizes[f.FirstOut(c)])));
    const size_t next = consumer(c);
    if (next == f.coders.size()) {
      whole = true;
      out.assign(data.begin(), data.begin() + static_cast<long>(std::min(want, data.size())));
      return Decode::Ok;
    }
    c = next;
  }
  const Coder& codec = f.coders[c];
  if (codec.inStreams != 1) return Decode::Unsupported;
  whole = consumer(c) == f.coders.size();
  want = static_cast<size_t>(std::min<uint64_t>(want, f.unpackSizes[f.FirstOut(c)]));
  if (IsCopy(codec)) {
    out.assign(data.begin(), data.begin() + static_cast<long>(std::min(want, data.size())));
    return Decode::Ok;
  }
  if (IsLzma(codec) || IsLzma2(codec)) return RunLzma(codec, data, want, out);
  return Decode::Unsupported;
}

// Where a pack stream's data leaves the AES layer after the coder is taken out.
struct Decryption {
  Coder aes;
  uint64_t size = 0;  // the plain size (the AES layer pads to 16 bytes)
};

// Takes every AES coder out of f: its pack stream then feeds the coder that read the
// AES output. False when an AES coder sits anywhere but on a pack stream.
bool TakeOutAes(Folder& f, size_t packStart, std::map<size_t, Decryption>& work) {
  for (;;) {
    auto it = std::find_if(f.coders.begin(), f.coders.end(), IsAes);
    if (it == f.coders.end()) return true;
    const size_t c = static_cast<size_t>(it - f.coders.begin());
    if (it->inStreams != 1 || it->outStreams != 1) return false;
    const uint64_t in = f.FirstIn(c), out = f.FirstOut(c);
    auto slot = std::find(f.packed.begin(), f.packed.end(), in);
    if (slot == f.packed.end()) return false;
    Decryption d{*it, f.unpackSizes[out]};
    auto bind = std::find_if(f.binds.begin(), f.binds.end(), [&](const sz::BindPair& b) { return b.out == out; });
    if (bind == f.binds.end()) {
      if (f.coders.size() != 1) return false;
      *it = Coder{{0x00}, 1, 1, {}};  // the only coder: the plain data is stored as is
    } else {
      *slot = bind->in;
      f.binds.erase(bind);
      f.coders.erase(it);
      f.unpackSizes.erase(f.unpackSizes.begin() + static_cast<long>(out));
      for (auto& b : f.binds) {
        if (b.in > in) --b.in;
        if (b.out > out) --b.out;
      }
      for (auto& p : f.packed)
        if (p > in) --p;
    }
    work[packStart + static_cast<size_t>(slot - f.packed.begin())] = d;
  }
}

enum class Step { Plain, NeedPassword, WrongPassword, Broken, Unsupported, Ready };

struct Opened {
  Step step = Step::Broken;
  bool namesHidden = false;
  std::vector<uint8_t> header;  // the plain header
  StreamsInfo main;
  bool hasMain = false;
  size_t rest = 0;  // where the header's records after the unpack record start
};

Opened Open(const Source& src, const std::vector<uint8_t>& raw, Keys* keys) {
  Opened o;
  o.header = raw;
  for (int depth = 0; depth < 4 && !o.header.empty() && o.header[0] == sz::kEncodedHeader; ++depth) {
    sz::Cursor c(o.header.data() + 1, o.header.size() - 1);
    StreamsInfo enc;
    std::string error;
    if (!sz::ParseStreams(c, enc, error) || enc.folders.size() != 1) return o;
    const Folder& f = enc.folders[0];
    const bool aes = HasAes(f);
    if (aes) o.namesHidden = true;
    if (aes && !keys) {
      o.step = Step::NeedPassword;
      return o;
    }
    uint64_t size = 0;
    for (const auto& u : f.unpackSizes) size = std::max(size, u);
    if (size > kMaxHeader) return o;
    std::vector<uint8_t> plain;
    bool whole = false;
    const Decode d = DecodeFirstCoder(src, enc, 0, keys, kMaxHeader, static_cast<size_t>(size), plain, whole);
    if (d == Decode::Unsupported || (d == Decode::Ok && !whole)) {
      o.step = aes ? Step::Unsupported : Step::Broken;
      return o;
    }
    const bool crcWrong = f.crcDefined && lzma_crc32(plain.data(), plain.size(), 0) != f.crc;
    if (d == Decode::Bad || crcWrong || plain.empty()) {
      o.step = aes ? Step::WrongPassword : Step::Broken;
      return o;
    }
    o.header = std::move(plain);
  }
  if (o.header.size() < 2 || o.header[0] != sz::kHeader) return o;
  if (o.header[1] == sz::kMainStreamsInfo) {
    sz::Cursor c(o.header.data() + 2, o.header.size() - 2);
    std::string error;
    if (!sz::ParseStreams(c, o.main, error)) return o;
    o.hasMain = true;
    o.rest = 2 + c.pos();
  } else if (o.header[1] != sz::kEnd && o.header[1] != 0x05) {
    o.step = o.namesHidden ? Step::Unsupported : Step::Plain;
    return o;
  }
  const auto aesFolder = std::find_if(o.main.folders.begin(), o.main.folders.end(), HasAes);
  const bool dataAes = aesFolder != o.main.folders.end();
  if (!dataAes && !o.namesHidden) {
    o.step = Step::Plain;
    return o;
  }
  if (dataAes && !keys) {
    o.step = Step::NeedPassword;
    return o;
  }
  if (dataAes && !o.namesHidden) {
    // Names in the clear: try the password on the start of the first encrypted stream.
    std::vector<uint8_t> probe;
    bool whole = false;
    const auto folder = static_cast<size_t>(aesFolder - o.main.folders.begin());
    const Decode d = DecodeFirstCoder(src, o.main, folder, keys, kProbe + 4096, kProbe, probe, whole);
    const Folder& f = *aesFolder;
    // The folder's output is the one stream no other coder takes in.
    uint64_t full = 0;
    for (uint64_t out = 0; out < f.unpackSizes.size(); ++out)
      if (std::none_of(f.binds.begin(), f.binds.end(), [&](const sz::BindPair& b) { return b.out == out; }))
        full = f.unpackSizes[out];
    // Garbage that a wrong key makes passes the decoder now and then; the file's CRC does not.
    std::optional<uint32_t> crc;
    if (f.crcDefined) {
      crc = f.crc;
    } else if (auto crcs = sz::SingleFileCrcs(sz::Cursor(o.header.data() + o.rest, o.header.size() - o.rest), o.main);
               folder < crcs.size()) {
      crc = crcs[folder];
    }
    // Decoded to its end, the stream must give the size the folder declares, and its CRC.
    const size_t pack = o.main.FolderPackStarts()[folder];
    const bool allRead = pack < o.main.packSizes.size() && o.main.packSizes[pack] <= kProbe + 4096;
    const bool shortOut = d == Decode::Ok && whole && allRead && probe.size() < std::min<uint64_t>(full, kProbe);
    const bool crcWrong = shortOut || (d == Decode::Ok && whole && crc && probe.size() == full &&
                                       lzma_crc32(probe.data(), probe.size(), 0) != *crc);
    if (d == Decode::Bad || crcWrong) {
      o.step = Step::WrongPassword;
      return o;
    }
  }
  o.step = Step::Ready;
  return o;
}

int TempFile() {
  const char* dir = getenv("TMPDIR");
  std::string base = dir && *dir ? dir : "/tmp";
  int fd = open(base.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  std::string name = base + "/.tvx-7z-XXXXXX";
  fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) unlink(name.c_str());
  return fd;
}

bool WriteAt(int fd, const uint8_t* data, size_t n, uint64_t at) {
  size_t done = 0;
  while (done < n) {
    const ssize_t w = pwrite(fd, data + done, n - done, static_cast<off_t>(at + done));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    done += static_cast<size_t>(w);
  }
  return true;
}

void PutLe(uint8_t* p, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The plain archive: the pack streams (decrypted where they were encrypted), then a
// header whose stream records say so, then the signature header pointing at it.
bool WritePlain(const Source& src, const Opened& o, Keys& keys, int out, std::string& error) {
  StreamsInfo plain = o.main;
  std::map<size_t, Decryption> work;
  const auto starts = plain.FolderPackStarts();
  for (size_t i = 0; i < plain.folders.size(); ++i)
    if (!TakeOutAes(plain.folders[i], starts[i], work)) {
      error = "unsupported";
      return false;
    }
  uint64_t written = 0;
  std::vector<uint8_t> block(kBlock);
  const auto fail = [&](const char* what) {
    error = std::string(what) + " (" + strerror(errno ? errno : EIO) + ")";
    return false;
  };
  for (size_t k = 0; k < o.main.packSizes.size(); ++k) {
    uint64_t at;
    if (!PackOffset(src, o.main, k, at)) {
      errno = EINVAL;
      return fail("書庫が壊れています");
    }
    const uint64_t size = o.main.packSizes[k];
    auto job = work.find(k);
    std::unique_ptr<AesCbc> aes;
    uint64_t keep = size;
    if (job != work.end()) {
      uint8_t key[32], iv[16];
      if (size % 16 != 0 || job->second.size > size || !keys.For(job->second.aes, key, iv)) {
        errno = EINVAL;
        return fail("書庫が壊れています");
      }
      aes = std::make_unique<AesCbc>(key, iv);
      keep = job->second.size;
      plain.packSizes[k] = keep;
    }
    for (uint64_t done = 0; done < size;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(kBlock, size - done));
      errno = 0;
      if (!ReadAt(src.fd, block.data(), n, static_cast<off_t>(at + done))) return fail("書庫を読めません");
      if (aes && !aes->Run(block.data(), n)) return fail("復号できません");
      const size_t put = static_cast<size_t>(std::min<uint64_t>(n, keep > done ? keep - done : 0));
      if (!WriteAt(out, block.data(), put, 32 + written)) return fail("一時ファイルに書けません");
      written += put;
      done += n;
    }
  }
  plain.packPos = 0;
  std::vector<uint8_t> header;
  if (o.hasMain) {
    header = {sz::kHeader, sz::kMainStreamsInfo};
    sz::WriteStreams(header, plain);
    header.insert(header.end(), o.header.begin() + static_cast<long>(o.rest), o.header.end());
  } else {
    header = o.header;
  }
  errno = 0;
  if (!WriteAt(out, header.data(), header.size(), 32 + written)) return fail("一時ファイルに書けません");
  uint8_t sig[32] = {};
  std::memcpy(sig, kSignature, 6);
  sig[7] = 4;
  PutLe(sig + 12, written, 8);
  PutLe(sig + 20, header.size(), 8);
  PutLe(sig + 28, lzma_crc32(header.data(), header.size(), 0), 4);
  PutLe(sig + 8, lzma_crc32(sig + 12, 20, 0), 4);
  if (!WriteAt(out, sig, sizeof sig, 0)) return fail("一時ファイルに書けません");
  return true;
}

}  // namespace

bool IsSevenZip(int fd) {
  uint8_t head[6];
  return ReadAt(fd, head, sizeof head, 0) && std::memcmp(head, kSignature, sizeof head) == 0;
}

bool SevenZipAesKey(const std::string& password, const uint8_t* props, size_t size, uint8_t key[32], uint8_t iv[16]) {
  AesProps p;
  if (!ParseAesProps(props, size, p)) return false;
  std::memcpy(iv, p.iv, 16);
  const unsigned cycles = p.cycles;
  const size_t saltSize = p.salt.size();
  const auto* salt = reinterpret_cast<const uint8_t*>(p.salt.data());
  const std::string pw = Utf16Le(password);
  if (cycles == 0x3F) {
    std::memset(key, 0, 32);
    std::string raw = std::string(reinterpret_cast<const char*>(salt), saltSize) + pw;
    std::copy_n(raw.begin(), std::min<size_t>(32, raw.size()), key);
    return true;
  }
  if (cycles > kMaxCycles) return false;
  // Many rounds per hash update: the counter is the only part that changes.
  const size_t unit = saltSize + pw.size() + 8;
  constexpr size_t kUnits = 64;
  std::vector<uint8_t> buf(unit * kUnits);
  for (size_t u = 0; u < kUnits; ++u) {
    std::memcpy(buf.data() + u * unit, salt, saltSize);
    std::memcpy(buf.data() + u * unit + saltSize, pw.data(), pw.size());
  }
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  bool ok = ctx && EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) == 1;
  const uint64_t rounds = uint64_t{1} << cycles;
  for (uint64_t r = 0; ok && r < rounds;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kUnits, rounds - r));
    for (size_t u = 0; u < n; ++u) PutLe(buf.data() + u * unit + saltSize + pw.size(), r + u, 8);
    ok = EVP_DigestUpdate(ctx, buf.data(), n * unit) == 1;
    r += n;
  }
  unsigned len = 0;
  ok = ok && EVP_DigestFinal_ex(ctx, key, &len) == 1 && len == 32;
  EVP_MD_CTX_free(ctx);
  return ok;
}

SevenZipCopy DecryptSevenZip(int fd, int64_t fileSize, const std::function<bool(bool, std::string&)>& password) {
  SevenZipCopy result;
  const Source src{fd, fileSize};
  uint8_t sig[32];
  if (fileSize < 32 || !ReadAt(fd, sig, sizeof sig, 0) || std::memcmp(sig, kSignature, 6) != 0) return result;
  const uint64_t offset = Le64(sig + 12), size = Le64(sig + 20);
  if (size == 0 || size > kMaxHeader || offset > static_cast<uint64_t>(fileSize) - 32 ||
      size > static_cast<uint64_t>(fileSize) - 32 - offset)
    return result;  // libarchive says what is wrong
  std::vector<uint8_t> raw(static_cast<size_t>(size));
  if (!ReadAt(fd, raw.data(), raw.size(), static_cast<off_t>(32 + offset)) ||
      lzma_crc32(raw.data(), raw.size(), 0) != Le32(sig + 28))
    return result;
  Opened o = Open(src, raw, nullptr);
  std::string pw;
  std::unique_ptr<Keys> keys;
  while (o.step == Step::NeedPassword || o.step == Step::WrongPassword) {
    result.namesHidden = o.namesHidden;
    if (!password || !password(o.step == Step::WrongPassword, pw)) {
      result.status = SevenZipKey::NoPassword;
      return result;
    }
    keys = std::make_unique<Keys>(pw);
    o = Open(src, raw, keys.get());
  }
  result.namesHidden = o.namesHidden;
  if (o.step == Step::Plain || o.step == Step::Broken) return result;
  if (o.step == Step::Unsupported) {
    result.status = SevenZipKey::Unsupported;
    return result;
  }
  const int out = TempFile();
  if (out < 0) {
    result.status = SevenZipKey::Failed;
    result.error = std::string("一時ファイルを作れません (") + strerror(errno) + ")";
    return result;
  }
  if (!WritePlain(src, o, *keys, out, result.error)) {
    close(out);
    result.status = result.error == "unsupported" ? SevenZipKey::Unsupported : SevenZipKey::Failed;
    return result;
  }
  result.status = SevenZipKey::Decrypted;
  result.plainFd = out;
  return result;
}

}  // namespace arc
