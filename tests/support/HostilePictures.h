#pragma once
// Pictures that claim far more than they hold, and one that really is huge,
// written by the tests and the preview benchmark: decompression bombs of every
// format the bundled plug-ins read.
#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace hostile {

inline void Put16BE(std::string& s, size_t at, uint32_t v) {
  s[at] = char(v >> 8);
  s[at + 1] = char(v);
}

inline void Append32BE(std::string& s, uint32_t v) {
  for (int i = 3; i >= 0; --i) s.push_back(char(v >> (8 * i)));
}

inline void Append32LE(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(char(v >> (8 * i)));
}

inline void Append16LE(std::string& s, uint32_t v) {
  s.push_back(char(v));
  s.push_back(char(v >> 8));
}

// The process's peak resident memory so far (VmHWM), in MB.
inline long PeakResidentMb() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long kb = 0;
  while (status >> key)
    if (key == "VmHWM:" && status >> kb) break;
  return kb / 1024;
}

inline bool Write(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  return bool(out);
}

// A small JPEG whose frame header is made to claim width x height, cut keep
// bytes after its first scan begins: the data ends long before the picture.
inline std::string JpegClaiming(int width, int height, bool progressive, size_t keep) {
  QImage image(64, 64, QImage::Format_RGB888);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) image.setPixel(x, y, qRgb(x * 4, y * 4, (x * y) & 255));
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "jpeg");
  writer.setProgressiveScanWrite(progressive);
  writer.setQuality(90);
  writer.write(image);
  std::string bytes = buffer.data().toStdString();
  const uint8_t frame = progressive ? 0xC2 : 0xC0;
  for (size_t i = 2; i + 9 < bytes.size(); ++i)
    if (uint8_t(bytes[i]) == 0xFF && uint8_t(bytes[i + 1]) == frame) {
      Put16BE(bytes, i + 5, uint32_t(height));
      Put16BE(bytes, i + 7, uint32_t(width));
      break;
    }
  for (size_t i = 2; i + 1 < bytes.size(); ++i)
    if (uint8_t(bytes[i]) == 0xFF && uint8_t(bytes[i + 1]) == 0xDA) {
      bytes.resize(std::min(bytes.size(), i + keep));
      break;
    }
  return bytes;
}

// A lossless WebP header claiming width x height over a few bytes of nothing.
inline std::string WebpClaiming(int width, int height) {
  std::string body;
  body.push_back(char(0x2F));
  Append32LE(body, uint32_t(width - 1) | uint32_t(height - 1) << 14 | 1u << 28);
  body.append(8, '\0');
  std::string chunk = "VP8L";
  Append32LE(chunk, uint32_t(body.size()));
  chunk += body;
  std::string file = "RIFF";
  Append32LE(file, uint32_t(4 + chunk.size()));
  return file + "WEBP" + chunk;
}

// A GIF with a screen of screenW x screenH and a frame of frameW x frameH at
// left, top; its pixel data complete (all index 1) or cut after a few bytes.
inline std::string Gif(int screenW, int screenH, int left, int top, int frameW, int frameH, bool complete) {
  std::string s = "GIF89a";
  Append16LE(s, uint32_t(screenW));
  Append16LE(s, uint32_t(screenH));
  s += std::string("\x80\x00\x00", 3);              // a global table of two colours
  s += std::string("\x00\x00\x00\xFF\x00\x00", 6);  // black, red
  s.push_back(',');
  Append16LE(s, uint32_t(left));
  Append16LE(s, uint32_t(top));
  Append16LE(s, uint32_t(frameW));
  Append16LE(s, uint32_t(frameH));
  s.push_back('\0');
  s.push_back('\x02');  // LZW minimum code size
  if (!complete) return s + std::string("\x02\x44\x01", 3);
  // Uncompressed LZW: a clear code before every two pixels keeps codes 3 bits wide.
  std::vector<uint8_t> data;
  uint32_t acc = 0;
  int bits = 0;
  auto code = [&](uint32_t value) {
    acc |= value << bits;
    bits += 3;
    while (bits >= 8) {
      data.push_back(uint8_t(acc));
      acc >>= 8;
      bits -= 8;
    }
  };
  for (int i = 0; i < frameW * frameH; ++i) {
    if (i % 2 == 0) code(4);
    code(1);
  }
  code(5);
  if (bits) data.push_back(uint8_t(acc));
  for (size_t i = 0; i < data.size(); i += 255) {
    const size_t n = std::min<size_t>(255, data.size() - i);
    s.push_back(char(n));
    s.append(reinterpret_cast<const char*>(data.data() + i), n);
  }
  s.push_back('\0');
  return s + ";";
}

inline void AppendPngChunk(std::string& png, const char* type, const std::string& data) {
  Append32BE(png, uint32_t(data.size()));
  std::string body = std::string(type, 4) + data;
  png += body;
  Append32BE(png, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
}

// Deflates data as a block that refers to nothing before it (a full flush).
inline std::string DeflateBlock(z_stream& z, const std::string& data) {
  std::string out;
  std::vector<char> buffer(1 << 16);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = uInt(data.size());
  do {
    z.next_out = reinterpret_cast<Bytef*>(buffer.data());
    z.avail_out = uInt(buffer.size());
    deflate(&z, Z_FULL_FLUSH);
    out.append(buffer.data(), buffer.size() - z.avail_out);
  } while (z.avail_out == 0 || z.avail_in > 0);
  return out;
}

// A real RGBA PNG of width x height in one colour: every row after the first is
// "same as above", so even 16000 x 16000 pixels take about a megabyte. The rows are
// compressed once per block of 256 and the block repeated, so writing it is quick.
inline bool WriteHugePng(const std::string& path, int width, int height, QRgb colour) {
  std::string png = "\x89PNG\r\n\x1a\n";
  std::string header;
  Append32BE(header, uint32_t(width));
  Append32BE(header, uint32_t(height));
  header += std::string("\x08\x06\x00\x00\x00", 5);
  AppendPngChunk(png, "IHDR", header);
  std::string first(1 + size_t(width) * 4, '\0'), rest(1 + size_t(width) * 4, '\0');
  for (int x = 0; x < width; ++x) {
    first[1 + 4 * x] = char(qRed(colour));
    first[2 + 4 * x] = char(qGreen(colour));
    first[3 + 4 * x] = char(qBlue(colour));
    first[4 + 4 * x] = char(qAlpha(colour));
  }
  rest[0] = 2;  // Up
  constexpr int kBlock = 256;
  std::string block;
  for (int i = 0; i < kBlock; ++i) block += rest;
  z_stream z{};
  if (deflateInit2(&z, 1, Z_DEFLATED, 15, 9, Z_RLE) != Z_OK) return false;
  std::string compressed = DeflateBlock(z, first);
  const std::string repeated = DeflateBlock(z, block);
  uLong adler = adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(first.data()), uInt(first.size()));
  const uLong blockAdler =
      adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(block.data()), uInt(block.size()));
  const int blocks = (height - 1) / kBlock, left = (height - 1) % kBlock;
  for (int i = 0; i < blocks; ++i) {
    compressed += repeated;
    adler = adler32_combine(adler, blockAdler, z_off_t(block.size()));
  }
  const std::string tail = block.substr(0, size_t(left) * rest.size());
  compressed += DeflateBlock(z, tail);
  adler = adler32(adler, reinterpret_cast<const Bytef*>(tail.data()), uInt(tail.size()));
  deflateEnd(&z);
  compressed += std::string("\x03\x00", 2);  // an empty final block
  Append32BE(compressed, uint32_t(adler));
  AppendPngChunk(png, "IDAT", compressed);
  AppendPngChunk(png, "IEND", "");
  return Write(path, png);
}

}  // namespace hostile
