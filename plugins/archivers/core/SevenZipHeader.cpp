#include "SevenZipHeader.h"

namespace arc::sz {

namespace {
// Far beyond what 7-Zip writes; keeps a hostile header from asking for huge tables.
constexpr uint64_t kMaxStreams = 1u << 22;
constexpr uint64_t kMaxCoders = 64;
constexpr uint64_t kMaxProps = 1u << 12;

bool Digests(Cursor& c, size_t n, std::vector<bool>& defined, std::vector<uint32_t>& crcs) {
  uint8_t all;
  if (!c.Byte(all)) return false;
  defined.assign(n, all != 0);
  if (!all) {
    uint8_t bits = 0;
    for (size_t i = 0; i < n; ++i) {
      if (i % 8 == 0 && !c.Byte(bits)) return false;
      defined[i] = bits & (0x80 >> (i % 8));
    }
  }
  crcs.assign(n, 0);
  for (size_t i = 0; i < n; ++i)
    if (defined[i] && !c.U32(crcs[i])) return false;
  return true;
}

bool ParseFolder(Cursor& c, Folder& f, std::string& error) {
  uint64_t coders;
  if (!c.Number(coders) || coders == 0 || coders > kMaxCoders) return false;
  f.coders.resize(coders);
  for (Coder& coder : f.coders) {
    uint8_t flag;
    const uint8_t* id;
    if (!c.Byte(flag)) return false;
    if (flag & 0xC0) {
      error = "7z: unsupported coder record";
      return false;
    }
    if (!c.Skip(flag & 0x0F, &id)) return false;
    coder.id.assign(id, id + (flag & 0x0F));
    if (flag & 0x10) {
      if (!c.Number(coder.inStreams) || !c.Number(coder.outStreams)) return false;
      if (coder.inStreams > kMaxCoders || coder.outStreams > kMaxCoders || coder.outStreams == 0) return false;
    }
    if (flag & 0x20) {
      uint64_t size;
      const uint8_t* props;
      if (!c.Number(size) || size > kMaxProps || !c.Skip(size, &props)) return false;
      coder.props.assign(props, props + size);
    }
  }
  const uint64_t ins = f.InTotal(), outs = f.OutTotal();
  f.binds.resize(outs - 1);
  for (BindPair& b : f.binds)
    if (!c.Number(b.in) || !c.Number(b.out) || b.in >= ins || b.out >= outs) return false;
  if (ins < f.binds.size() + 1) return false;
  const uint64_t packed = ins - f.binds.size();
  if (packed == 1) {
    for (uint64_t i = 0; i < ins; ++i)
      if (std::none_of(f.binds.begin(), f.binds.end(), [&](const BindPair& b) { return b.in == i; }))
        f.packed.push_back(i);
    return f.packed.size() == 1;
  }
  f.packed.resize(packed);
  for (uint64_t& p : f.packed)
    if (!c.Number(p) || p >= ins) return false;
  return true;
}

bool ParsePackInfo(Cursor& c, StreamsInfo& s) {
  uint64_t n;
  if (!c.Number(s.packPos) || !c.Number(n) || n > kMaxStreams) return false;
  s.packSizes.assign(n, 0);
  for (;;) {
    uint8_t id;
    if (!c.Byte(id)) return false;
    if (id == kEnd) return true;
    if (id == kSize) {
      for (uint64_t& size : s.packSizes)
        if (!c.Number(size)) return false;
    } else if (id == kCrc) {
      std::vector<bool> defined;  // pack checksums are not kept: the rewritten streams differ
      std::vector<uint32_t> crcs;
      if (!Digests(c, n, defined, crcs)) return false;
    } else {
      return false;
    }
  }
}

bool ParseUnpackInfo(Cursor& c, StreamsInfo& s, std::string& error) {
  uint8_t id, external;
  uint64_t n;
  if (!c.Byte(id) || id != kFolder || !c.Number(n) || n > kMaxStreams || !c.Byte(external)) return false;
  if (external) {
    error = "7z: folders kept outside the header";
    return false;
  }
  s.folders.resize(n);
  for (Folder& f : s.folders)
    if (!ParseFolder(c, f, error)) return false;
  if (!c.Byte(id) || id != kCodersUnpackSize) return false;
  for (Folder& f : s.folders) {
    f.unpackSizes.resize(f.OutTotal());
    for (uint64_t& size : f.unpackSizes)
      if (!c.Number(size)) return false;
  }
  for (;;) {
    if (!c.Byte(id)) return false;
    if (id == kEnd) return true;
    if (id != kCrc) return false;
    std::vector<bool> defined;
    std::vector<uint32_t> crcs;
    if (!Digests(c, n, defined, crcs)) return false;
    for (size_t i = 0; i < n; ++i) {
      s.folders[i].crcDefined = defined[i];
      s.folders[i].crc = crcs[i];
    }
  }
}

void WriteU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void WriteFolder(std::vector<uint8_t>& out, const Folder& f) {
  WriteNumber(out, f.coders.size());
  for (const Coder& coder : f.coders) {
    const bool complex = coder.inStreams != 1 || coder.outStreams != 1;
    out.push_back(static_cast<uint8_t>(coder.id.size() | (complex ? 0x10 : 0) | (coder.props.empty() ? 0 : 0x20)));
    out.insert(out.end(), coder.id.begin(), coder.id.end());
    if (complex) {
      WriteNumber(out, coder.inStreams);
      WriteNumber(out, coder.outStreams);
    }
    if (!coder.props.empty()) {
      WriteNumber(out, coder.props.size());
      out.insert(out.end(), coder.props.begin(), coder.props.end());
    }
  }
  for (const BindPair& b : f.binds) {
    WriteNumber(out, b.in);
    WriteNumber(out, b.out);
  }
  if (f.packed.size() > 1)
    for (uint64_t p : f.packed) WriteNumber(out, p);
}

}  // namespace

uint64_t Folder::InTotal() const {
  uint64_t n = 0;
  for (const Coder& c : coders) n += c.inStreams;
  return n;
}

uint64_t Folder::OutTotal() const {
  uint64_t n = 0;
  for (const Coder& c : coders) n += c.outStreams;
  return n;
}

uint64_t Folder::FirstIn(size_t coder) const {
  uint64_t n = 0;
  for (size_t i = 0; i < coder; ++i) n += coders[i].inStreams;
  return n;
}

uint64_t Folder::FirstOut(size_t coder) const {
  uint64_t n = 0;
  for (size_t i = 0; i < coder; ++i) n += coders[i].outStreams;
  return n;
}

size_t Folder::CoderOfIn(uint64_t in) const {
  uint64_t first = 0;
  for (size_t i = 0; i < coders.size(); ++i) {
    if (in < first + coders[i].inStreams) return i;
    first += coders[i].inStreams;
  }
  return coders.size();
}

std::vector<size_t> StreamsInfo::FolderPackStarts() const {
  std::vector<size_t> starts;
  size_t next = 0;
  for (const Folder& f : folders) {
    starts.push_back(next);
    next += f.packed.size();
  }
  return starts;
}

bool Cursor::Byte(uint8_t& v) {
  if (pos_ >= size_) return false;
  v = data_[pos_++];
  return true;
}

bool Cursor::Number(uint64_t& v) {
  uint8_t first;
  if (!Byte(first)) return false;
  v = 0;
  uint8_t mask = 0x80;
  for (int i = 0; i < 8; ++i) {
    if ((first & mask) == 0) {
      v |= static_cast<uint64_t>(first & (mask - 1)) << (8 * i);
      return true;
    }
    uint8_t b;
    if (!Byte(b)) return false;
    v |= static_cast<uint64_t>(b) << (8 * i);
    mask >>= 1;
  }
  return true;
}

bool Cursor::U32(uint32_t& v) {
  const uint8_t* p;
  if (!Skip(4, &p)) return false;
  v = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
      (static_cast<uint32_t>(p[3]) << 24);
  return true;
}

bool Cursor::Skip(size_t n, const uint8_t** at) {
  if (n > size_ - pos_) return false;
  if (at) *at = data_ + pos_;
  pos_ += n;
  return true;
}

bool ParseStreams(Cursor& c, StreamsInfo& out, std::string& error) {
  out = StreamsInfo();
  bool unpack = false;
  for (;;) {
    uint8_t id;
    if (!c.Byte(id)) break;
    if (id == kPackInfo && !unpack) {
      if (!ParsePackInfo(c, out)) break;
    } else if (id == kUnpackInfo && !unpack) {
      if (!ParseUnpackInfo(c, out, error)) break;
      unpack = true;
    } else if (id == kSubStreamsInfo || id == kEnd) {
      c.Back();
      size_t packed = 0;
      for (const Folder& f : out.folders) packed += f.packed.size();
      if (packed == out.packSizes.size()) return true;
      break;
    } else {
      break;
    }
  }
  if (error.empty()) error = "7z: broken stream records";
  return false;
}

std::vector<std::optional<uint32_t>> SingleFileCrcs(Cursor c, const StreamsInfo& s) {
  const size_t folders = s.folders.size();
  std::vector<uint64_t> files(folders, 1);
  uint8_t id;
  if (!c.Byte(id) || id != kSubStreamsInfo || !c.Byte(id)) return {};
  uint64_t total = folders;
  if (id == kNumUnpackStream) {
    total = 0;
    for (uint64_t& n : files) {
      if (!c.Number(n) || n > kMaxStreams) return {};
      total += n;
    }
    if (total > kMaxStreams || !c.Byte(id)) return {};
  }
  if (id == kSize) {
    for (uint64_t n : files)
      for (uint64_t k = 1; k < n; ++k) {
        uint64_t size;
        if (!c.Number(size)) return {};
      }
    if (!c.Byte(id)) return {};
  }
  std::vector<std::optional<uint32_t>> crcs(folders);
  // A one-file folder whose own CRC is known is left out of the digests.
  size_t asked = 0;
  for (size_t i = 0; i < folders; ++i) {
    if (files[i] == 1 && s.folders[i].crcDefined)
      crcs[i] = s.folders[i].crc;
    else
      asked += files[i];
  }
  if (id != kCrc) return crcs;
  std::vector<bool> defined;
  std::vector<uint32_t> digests;
  if (!Digests(c, asked, defined, digests)) return {};
  size_t at = 0;
  for (size_t i = 0; i < folders; ++i) {
    if (files[i] == 1 && s.folders[i].crcDefined) continue;
    if (files[i] == 1 && defined[at]) crcs[i] = digests[at];
    at += files[i];
  }
  return crcs;
}

void WriteNumber(std::vector<uint8_t>& out, uint64_t v) {
  int extra = 0;
  while (extra < 8 && v >= (uint64_t{1} << (7 * (extra + 1)))) ++extra;
  const uint8_t lead = static_cast<uint8_t>(~(0xFFu >> extra) & 0xFF);
  out.push_back(extra == 8 ? 0xFF : static_cast<uint8_t>(lead | (v >> (8 * extra))));
  for (int i = 0; i < extra; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void WriteStreams(std::vector<uint8_t>& out, const StreamsInfo& s) {
  out.push_back(kPackInfo);
  WriteNumber(out, s.packPos);
  WriteNumber(out, s.packSizes.size());
  out.push_back(kSize);
  for (uint64_t size : s.packSizes) WriteNumber(out, size);
  out.push_back(kEnd);
  out.push_back(kUnpackInfo);
  out.push_back(kFolder);
  WriteNumber(out, s.folders.size());
  out.push_back(0);
  for (const Folder& f : s.folders) WriteFolder(out, f);
  out.push_back(kCodersUnpackSize);
  for (const Folder& f : s.folders)
    for (uint64_t size : f.unpackSizes) WriteNumber(out, size);
  const bool any = std::any_of(s.folders.begin(), s.folders.end(), [](const Folder& f) { return f.crcDefined; });
  if (any) {
    out.push_back(kCrc);
    const bool all = std::all_of(s.folders.begin(), s.folders.end(), [](const Folder& f) { return f.crcDefined; });
    out.push_back(all ? 1 : 0);
    if (!all) {
      for (size_t i = 0; i < s.folders.size(); i += 8) {
        uint8_t bits = 0;
        for (size_t j = i; j < i + 8 && j < s.folders.size(); ++j)
          if (s.folders[j].crcDefined) bits |= static_cast<uint8_t>(0x80 >> (j - i));
        out.push_back(bits);
      }
    }
    for (const Folder& f : s.folders)
      if (f.crcDefined) WriteU32(out, f.crc);
  }
  out.push_back(kEnd);
}

}  // namespace arc::sz
