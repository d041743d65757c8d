#pragma once
// The parts of a 7z header that say how its packed streams decode: read, changed and
// written back, so that an encrypted archive can be rewritten as a plain one. The file
// records after them are carried over byte for byte.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <optional>
#include <vector>

namespace arc::sz {

enum Property : uint8_t {
  kEnd = 0x00,
  kHeader = 0x01,
  kMainStreamsInfo = 0x04,
  kPackInfo = 0x06,
  kUnpackInfo = 0x07,
  kSubStreamsInfo = 0x08,
  kSize = 0x09,
  kCrc = 0x0A,
  kFolder = 0x0B,
  kCodersUnpackSize = 0x0C,
  kNumUnpackStream = 0x0D,
  kEncodedHeader = 0x17,
};

struct Coder {
  std::vector<uint8_t> id;
  uint64_t inStreams = 1, outStreams = 1;
  std::vector<uint8_t> props;
  bool Is(std::initializer_list<uint8_t> method) const {
    return id.size() == method.size() && std::equal(method.begin(), method.end(), id.begin());
  }
};

struct BindPair {
  uint64_t in, out;
};

struct Folder {
  std::vector<Coder> coders;
  std::vector<BindPair> binds;
  std::vector<uint64_t> packed;       // the coder inputs fed by pack streams, in pack order
  std::vector<uint64_t> unpackSizes;  // one per coder output
  bool crcDefined = false;
  uint32_t crc = 0;
  uint64_t InTotal() const;
  uint64_t OutTotal() const;
  uint64_t FirstIn(size_t coder) const;
  uint64_t FirstOut(size_t coder) const;
  // The coder whose inputs include stream in, or coders.size().
  size_t CoderOfIn(uint64_t in) const;
};

struct StreamsInfo {
  uint64_t packPos = 0;  // from the end of the 32-byte signature header
  std::vector<uint64_t> packSizes;
  std::vector<Folder> folders;
  // The first pack stream of each folder.
  std::vector<size_t> FolderPackStarts() const;
};

// A cursor that never reads past its end.
class Cursor {
 public:
  Cursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Byte(uint8_t& v);
  bool Number(uint64_t& v);
  bool U32(uint32_t& v);
  bool Skip(size_t n, const uint8_t** at = nullptr);
  void Back() { --pos_; }
  size_t pos() const { return pos_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Reads pack and unpack records up to (not including) the substreams record or the end
// of the streams record; false with error when they are malformed or use a form this
// reader does not rewrite.
bool ParseStreams(Cursor& c, StreamsInfo& out, std::string& error);
// From the substreams record (c where ParseStreams left it): the CRC of the whole output
// of each folder that holds one file, where the record tells it. Empty when it cannot.
std::vector<std::optional<uint32_t>> SingleFileCrcs(Cursor c, const StreamsInfo& s);
void WriteNumber(std::vector<uint8_t>& out, uint64_t v);
// The pack and unpack records of s, in the form ParseStreams reads.
void WriteStreams(std::vector<uint8_t>& out, const StreamsInfo& s);

}  // namespace arc::sz
