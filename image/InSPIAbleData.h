#pragma once
// The decode engine: offers a file or a block of memory to the host's picture
// plug-ins in turn (at offset 0 and, for MacBinary, 128) until one hands back
// a DIB. The DIB stays in the plug-in's own malloc'ed blocks, owned here.
// Plug-ins read files nobody vetted: a DIB whose header does not fit the
// blocks, or that exceeds kMaxBitmapPixels, counts as a failed decode.
#include <QIODevice>
#include <exception>
#include <memory>
#include <string>

#include "image/SPI.h"
#include "platform/graphics/Graphic.h"

class TSPIGraphic;

// What a DIB header says about its blocks.
struct TDibLayout {
  int Width = 0;
  int Height = 0;  // negative: rows top-down
  int Colors = 0;
  size_t InfoSize = 0;   // header and colour table
  size_t ImageSize = 0;  // pixel rows
  bool Is4Bit = false;
};
// False for headers we do not read: not 40 bytes, compressed, an odd depth,
// a colour table past what the indexes reach, over kMaxBitmapPixels.
bool DibLayoutOf(const BITMAPINFOHEADER& header, TDibLayout& layout);

// What loads on one thread ask for when they show a picture in a box (the preview)
// rather than keep it whole. Plug-ins that have our fitted entry point decode for the
// box; the others are refused, before they decode, a picture whose whole decode would
// pass the memory limit.
struct TSPIFitRequest {
  int MaxWidth = 0;
  int MaxHeight = 0;
  uint64_t MemoryLimit = 0;  // bytes; 0: none
  // Set when a plug-in was refused the picture: its size as the plug-in reported it.
  bool Refused = false;
  int RefusedWidth = 0;
  int RefusedHeight = 0;
};
// The bytes a picture of that size takes decoded whole.
inline uint64_t WholeDecodeBytes(int64_t width, int64_t height) { return uint64_t(width) * uint64_t(height) * 4; }

// While it lives, loads on this thread follow the request.
class TSPIFitScope {
 public:
  explicit TSPIFitScope(TSPIFitRequest& request);
  ~TSPIFitScope();
  TSPIFitScope(const TSPIFitScope&) = delete;
  TSPIFitScope& operator=(const TSPIFitScope&) = delete;
  static TSPIFitRequest* Current();

 private:
  TSPIFitRequest* FPrevious;
};

// Bytes of the data's start that are read for IsSupported: room for the
// plug-ins' 2048 bytes behind a 128-byte MacBinary header.
constexpr size_t kSPIHeadSize = 2176;

class TInSPIAbleData {
 public:
  virtual ~TInSPIAbleData();
  TInSPIAbleData(const TInSPIAbleData&) = delete;
  TInSPIAbleData& operator=(const TInSPIAbleData&) = delete;

  // Runs the plug-ins; leaves the data empty when none decodes. Progress
  // events go to OnProgress; what they throw (other than the silent abort,
  // which only stops the plug-in at work) passes on after the ending event.
  void Load();
  void FreeData();
  bool Empty() const { return !HBInfo || !HBm; }

  const BITMAPINFO* InfoPtr() const { return static_cast<const BITMAPINFO*>(HBInfo); }
  const uint8_t* BitsPtr() const { return static_cast<const uint8_t*>(HBm); }

  void* HBInfo = nullptr;
  void* HBm = nullptr;
  std::string FileName;
  SusiePictureInfo Info{};
  TSPIGraphic* Graphic = nullptr;  // the owner
  TProgressEvent OnProgress;
  bool InfoValid = false;
  // The DIB came from our fitted entry point: 32-bit pixels carry alpha even when all zero.
  bool AlphaKnown = false;

 protected:
  TInSPIAbleData(TSPIGraphic* AGraphic, const std::string& AFileName);

  virtual void ReadHead(uint8_t* Buffer, size_t Size) = 0;
  virtual void QueryInfo(TInSPI* SPI, intptr_t Offset, SusiePictureInfo& AInfo, bool& AInfoValid) = 0;
  virtual void DecodePreview(TInSPI* SPI, intptr_t Offset, void*& AHBInfo, void*& AHBm) = 0;
  virtual void DecodePicture(TInSPI* SPI, intptr_t Offset, void*& AHBInfo, void*& AHBm) = 0;
  // The source arguments of the plug-in calls for the data at Offset.
  virtual void Source(intptr_t Offset, const char*& Buf, intptr_t& Len, uint32_t& Flag) const = 0;
  // False when the source has nothing at Offset to offer.
  virtual bool HasDataAt(intptr_t Offset) const { return true; }

  void Progress(TProgressStage Stage, uint8_t Percent, const std::string& Msg);
  static int32_t ProgressCallback(int32_t nNum, int32_t nDenom, intptr_t lData);

 private:
  void TryLoad(TInSPI* SPI, const uint8_t* Head, intptr_t Offset);
  // TryLoad's decode for a fit request; false when the plug-in was refused the picture.
  void DecodeForFit(TInSPI* SPI, intptr_t Offset, TSPIFitRequest& Fit);
  // Whether the handles hold a DIB we can read without going past its blocks.
  bool DibIsSound() const;

  // A failure thrown by a progress handler inside a plug-in call: it cannot
  // pass through the plug-in's C frames, so the plug-in is stopped and the
  // failure thrown again once the call has returned.
  std::exception_ptr FPendingFailure;
};

class TInSPIAbleFromFile : public TInSPIAbleData {
 public:
  TInSPIAbleFromFile(TSPIGraphic* AGraphic, const std::string& AFileName);

 protected:
  void ReadHead(uint8_t* Buffer, size_t Size) override;
  void QueryInfo(TInSPI* SPI, intptr_t Offset, SusiePictureInfo& AInfo, bool& AInfoValid) override;
  void DecodePreview(TInSPI* SPI, intptr_t Offset, void*& AHBInfo, void*& AHBm) override;
  void DecodePicture(TInSPI* SPI, intptr_t Offset, void*& AHBInfo, void*& AHBm) override;
  void Source(intptr_t Offset, const char*& Buf, intptr_t& Len, uint32_t& Flag) const override;
  bool HasDataAt(intptr_t Offset) const override;

 private:
  bool FNotAFile = false;  // exists but is a pipe, device or folder: never offered
};

class TInSPIAbleFromStream : public TInSPIAbleData {
 public:
  // A QBuffer's memory is used in place; any other stream is copied whole
  // from its first byte. The stream's position plays no part.
  TInSPIAbleFromStream(TSPIGraphic* AGraphic, const std::string& AFileName, QIODevice& Stream);

  const uint8_t* Data = nullptr;
  size_t Size = 0;

 protected:
  void ReadHead(uint8_t* Buffer, size_t ASize) override;
  void QueryInfo(TInSPI* SPI, intptr_t Offset, SusiePictureInfo& AInfo, bool& AInfoValid) override;
  void DecodePreview(TInSPI* SPI, intptr_t Offset, void*& AHBInfo, void*& AHBm) override;
  void DecodePicture(TInSPI* SPI, intptr_t Offset, void*& AHBInfo, void*& AHBm) override;
  void Source(intptr_t Offset, const char*& Buf, intptr_t& Len, uint32_t& Flag) const override;
  bool HasDataAt(intptr_t Offset) const override { return Offset >= 0 && size_t(Offset) < Size; }

 private:
  QByteArray Copy;
};
