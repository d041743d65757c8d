#pragma once
// The option set that shapes every archiver command line: one field per
// switch of the LHA alphabet (the other formats map onto it), free-form
// options and the response-file settings.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using TStringList = std::vector<std::string>;

enum TPackFilter { pfArchiver, pfComponent };

enum TResFileUse { ruOnPack, ruOnUnpack, ruOnRemoveItem, ruOnUpdate };

// A set of TResFileUse.
class TResFileUsage {
 public:
  TResFileUsage() = default;
  TResFileUsage(std::initializer_list<TResFileUse> uses) {
    for (TResFileUse u : uses) Include(u);
  }
  bool Contains(TResFileUse u) const { return (bits_ & Bit(u)) != 0; }
  void Include(TResFileUse u) { bits_ |= Bit(u); }
  bool operator==(const TResFileUsage&) const = default;

 private:
  static uint8_t Bit(TResFileUse u) { return static_cast<uint8_t>(1u << u); }
  uint8_t bits_ = 0;
};

// A string switch holding this value is not set; the empty string is a set,
// empty value and is emitted.
extern const std::string kNotSetString;
inline bool IsNotSetString(const std::string& s) { return s.size() == 1 && s[0] == '\0'; }

class TArchiverOptions {
 public:
  using Int = int8_t;  // -1: the switch is not set

  TArchiverOptions() { Reset(); }

  void Reset();
  void Assign(const TArchiverOptions& source) { *this = source; }

  // The properties a form stream stores, in declaration order: an Int only
  // when it is set (jyc always), PackFilter only when not pfComponent.
  std::vector<std::pair<std::string, std::string>> StoredProperties() const;

  Int a, c, e, f, h, i, l, m, n, o, p, r, s, t, u;
  std::string w;
  Int x, y, z;
  Int jc, jd, je, jf, jh, ji, jm, jn;
  std::string jo, job;
  Int jp, jr, jsb, jsc, jsd, jse, jsf, jsl, jso, jss, jst, jsv, jsz, jw;
  TStringList jx;
  Int jyc, jyd, jyk, jyn, jyo;
  std::string jz;
  Int ga, gd, ge, gf, gj, gm, gn, go, gp;
  std::string gr;
  Int gs, gu, gw;

  std::string UserOptions;
  std::string UserFileList;
  TPackFilter PackFilter;
  std::string ResFileName;
  TResFileUsage ResFileUsage;
};
