#pragma once
// Test pictures in the test plug-ins' "TSTP" format, copies of the test
// plug-ins in temporary folders, and what a plug-in says it was asked.
#include <dlfcn.h>

#include <QRgb>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "TempDir.h"
#include "image/SPI.h"

inline std::string TestSpi(const std::string& name) { return std::string(TEST_SPI_DIR) + "/" + name + ".spi"; }

// Copies a test plug-in under a new name (a new file, so a library of its own)
// and, when config is given, writes its "<path>.cfg".
inline std::string CopySpi(const std::string& folder, const std::string& variant, const std::string& name,
                           const std::string& config = "") {
  std::string target = folder + "/" + name;
  std::filesystem::copy_file(TestSpi(variant), target, std::filesystem::copy_options::overwrite_existing);
  if (!config.empty()) std::ofstream(target + ".cfg") << config;
  return target;
}

inline void Put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s += char((v >> (8 * i)) & 0xff);
}
inline void Put16(std::string& s, uint16_t v) {
  s += char(v & 0xff);
  s += char(v >> 8);
}

// A TSTP picture: 24-bit when palette is empty (pixels are 0xRRGGBB), else
// with 4 or 8 bits per pixel (pixels are indexes).
inline std::string MakeTstp(int width, int height, int bits, const std::vector<uint32_t>& pixels,
                            const std::vector<QRgb>& palette = {}) {
  std::string s = "TSTP";
  Put32(s, uint32_t(width));
  Put32(s, uint32_t(height));
  Put16(s, uint16_t(bits));
  Put16(s, uint16_t(palette.size()));
  for (QRgb c : palette) {
    s += char(qBlue(c));
    s += char(qGreen(c));
    s += char(qRed(c));
    s += char(0);
  }
  const size_t rowBytes = ((size_t(width) * bits + 31) / 32) * 4;
  for (int y = 0; y < height; ++y) {
    std::string row(rowBytes, '\0');
    for (int x = 0; x < width; ++x) {
      uint32_t p = pixels[size_t(y * width + x)];
      if (bits == 24) {
        row[size_t(3 * x)] = char(p & 0xff);
        row[size_t(3 * x + 1)] = char((p >> 8) & 0xff);
        row[size_t(3 * x + 2)] = char((p >> 16) & 0xff);
      } else if (bits == 8) {
        row[size_t(x)] = char(p);
      } else {
        row[size_t(x / 2)] = char(row[size_t(x / 2)] | (x % 2 ? p & 0x0f : (p & 0x0f) << 4));
      }
    }
    s += row;
  }
  return s;
}

// A 128-byte MacBinary header in front of the data.
inline std::string WithMacBinary(const std::string& data) {
  std::string header(128, '\0');
  header[1] = 9;
  header.replace(2, 9, "photo.tst");
  return header + data;
}

// The calls a loaded test plug-in logged since the last ClearLog.
inline std::string SpiLog(const TSPI* spi) {
  auto f = reinterpret_cast<const char* (*)()>(::dlsym(spi->Handle, "TestSpiLog"));
  return f ? f() : "(no log)";
}
inline void ClearSpiLog(const TSPI* spi) {
  auto f = reinterpret_cast<void (*)()>(::dlsym(spi->Handle, "TestSpiClearLog"));
  if (f) f();
}
