#include "image/InSPIAbleData.h"

#include <QBuffer>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "image/SPIGraphic.h"
#include "image/SPIs.h"
#include "platform/graphics/Bitmap.h"
#include "platform/graphics/StreamBytes.h"
#include "platform/system/UniqueFd.h"

bool DibLayoutOf(const BITMAPINFOHEADER& h, TDibLayout& out) {
  out = TDibLayout{};
  if (h.biSize != sizeof(BITMAPINFOHEADER) || h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN ||
      h.biCompression != BI_RGB)
    return false;
  const int64_t width = h.biWidth, height = h.biHeight < 0 ? -int64_t(h.biHeight) : h.biHeight;
  if (width * height > kMaxBitmapPixels) return false;
  const int bits = h.biBitCount;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
  int64_t colors = h.biClrUsed;
  if (colors == 0) colors = bits == 1 ? 2 : bits == 4 ? 16 : bits == 8 ? 256 : 0;
  // A colour table longer than the indexes can reach is a broken header.
  if (colors > (bits <= 8 ? (int64_t(1) << bits) : 256)) return false;
  out.Width = int(width);
  out.Height = h.biHeight;
  out.Colors = int(colors);
  out.InfoSize = 40 + 4 * size_t(colors);
  out.ImageSize = size_t((width * bits + 31) / 32) * 4 * size_t(height);
  out.Is4Bit = bits == 4;
  return true;
}

namespace {
thread_local TSPIFitRequest* CurrentFit = nullptr;
}

TSPIFitScope::TSPIFitScope(TSPIFitRequest& request) : FPrevious(CurrentFit) { CurrentFit = &request; }
TSPIFitScope::~TSPIFitScope() { CurrentFit = FPrevious; }
TSPIFitRequest* TSPIFitScope::Current() { return CurrentFit; }

TInSPIAbleData::TInSPIAbleData(TSPIGraphic* AGraphic, const std::string& AFileName)
    : FileName(AFileName), Graphic(AGraphic) {}

TInSPIAbleData::~TInSPIAbleData() { FreeData(); }

void TInSPIAbleData::FreeData() {
  std::free(HBInfo);
  std::free(HBm);
  std::free(Info.hInfo);
  HBInfo = HBm = nullptr;
  Info = SusiePictureInfo{};
  AlphaKnown = false;
}

void TInSPIAbleData::Progress(TProgressStage Stage, uint8_t Percent, const std::string& Msg) {
  if (OnProgress) OnProgress(Graphic, Stage, Percent, Stage == psEnding, QRect(), Msg);
}

int32_t TInSPIAbleData::ProgressCallback(int32_t nNum, int32_t nDenom, intptr_t lData) {
  auto* self = reinterpret_cast<TInSPIAbleData*>(lData);
  if (!self || !self->OnProgress) return 0;
  // The plug-in's share maps onto 2..99 %; a plug-in that counts past its
  // end or gives no total still reports within that range.
  double share = nDenom > 0 ? std::nearbyint(double(nNum) * 97.0 / double(nDenom)) : 0.0;
  int percent = int(std::clamp(share, 0.0, 97.0)) + 2;
  try {
    self->Progress(psRunning, uint8_t(percent), "");
  } catch (const EAbort&) {
    return 1;
  } catch (...) {
    if (!self->FPendingFailure) self->FPendingFailure = std::current_exception();
    return 1;
  }
  return 0;
}

bool TInSPIAbleData::DibIsSound() const {
  if (Empty()) return false;
  // The blocks come from the plug-in's malloc: their usable size bounds
  // what the header may claim.
  const size_t infoCap = malloc_usable_size(HBInfo), bitsCap = malloc_usable_size(HBm);
  if (infoCap < sizeof(BITMAPINFOHEADER)) return false;
  BITMAPINFOHEADER h;
  std::memcpy(&h, HBInfo, sizeof h);
  TDibLayout layout;
  return DibLayoutOf(h, layout) && layout.InfoSize <= infoCap && layout.ImageSize <= bitsCap;
}

void TInSPIAbleData::TryLoad(TInSPI* SPI, const uint8_t* Head, intptr_t Offset) {
  if (!HasDataAt(Offset)) return;
  if (SPI->IsSupported(FileName.c_str(), Head + Offset) == 0) return;
  QueryInfo(SPI, Offset, Info, InfoValid);
  auto rethrowPending = [this] {
    if (FPendingFailure) {
      std::exception_ptr failure = FPendingFailure;
      FPendingFailure = nullptr;
      std::rethrow_exception(failure);
    }
  };
  if (TSPIFitRequest* fit = TSPIFitScope::Current()) {
    DecodeForFit(SPI, Offset, *fit);
  } else if (CurrentSPIs && CurrentSPIs->GraphicPreview) {
    DecodePreview(SPI, Offset, HBInfo, HBm);
    rethrowPending();
    if (Empty()) {
      std::free(HBInfo);  // a half answer
      std::free(HBm);
      HBInfo = HBm = nullptr;
      DecodePicture(SPI, Offset, HBInfo, HBm);
    }
  } else {
    DecodePicture(SPI, Offset, HBInfo, HBm);
  }
  rethrowPending();
}

void TInSPIAbleData::DecodeForFit(TInSPI* SPI, intptr_t Offset, TSPIFitRequest& Fit) {
  const bool sized = InfoValid && Info.width > 0 && Info.height > 0;
  auto refuse = [&] {
    Fit.Refused = true;
    Fit.RefusedWidth = sized ? Info.width : 0;
    Fit.RefusedHeight = sized ? Info.height : 0;
  };
  HBInfo = HBm = nullptr;
  if (!SPI->HasPictureFit()) {
    // The whole picture or nothing: refused before the plug-in allocates it.
    if (Fit.MemoryLimit && sized && WholeDecodeBytes(Info.width, Info.height) > Fit.MemoryLimit) {
      refuse();
      return;
    }
    DecodePicture(SPI, Offset, HBInfo, HBm);
    return;
  }
  const char* buf = nullptr;
  intptr_t len = 0;
  uint32_t flag = 0;
  Source(Offset, buf, len, flag);
  const int32_t result = SPI->GetPictureFit(buf, len, flag, Fit.MaxWidth, Fit.MaxHeight, Fit.MemoryLimit, &HBInfo, &HBm,
                                            &ProgressCallback, reinterpret_cast<intptr_t>(this));
  if (result != SUSIE_OK) {
    HBInfo = HBm = nullptr;
    if (result == SUSIE_NO_MEMORY && Fit.MemoryLimit) refuse();
    return;
  }
  AlphaKnown = true;
}

void TInSPIAbleData::Load() {
  const bool macBinary = CurrentSPIs && CurrentSPIs->MacBinary;
  Progress(psStarting, 0, "Loading Graphic by Susie Plugin");
  try {
    FreeData();
    Progress(psRunning, 1, "Seeking enabled Susie Plugins");
    std::vector<TSPI*> loaders;
    if (CurrentSPIs) {
      if (CurrentSPIs->GraphicForcedLoader)
        loaders.push_back(CurrentSPIs->GraphicForcedLoader);
      else
        CurrentSPIs->GetLoaders({TInSPI::StaticClass()}, loaders, FileName);
    }
    std::vector<uint8_t> head(kSPIHeadSize, 0);
    ReadHead(head.data(), head.size());
    bool done = false;
    for (TSPI* loader : loaders) {
      auto* spi = dynamic_cast<TInSPI*>(loader);
      if (!spi) continue;
      for (intptr_t offset : {intptr_t(0), intptr_t(128)}) {
        if (offset == 128 && !macBinary) break;
        const std::string& path = spi->FileName;
        size_t slash = path.rfind('/');
        Progress(psRunning, 1, "Loading by [" + (slash == std::string::npos ? path : path.substr(slash + 1)) + "]");
        TryLoad(spi, head.data(), offset);
        if (DibIsSound()) {
          done = true;
          break;
        }
        FreeData();
      }
      if (done) break;
    }
  } catch (...) {
    try {
      Progress(psEnding, 100, "Loaded Graphic by Susie Plugin");
    } catch (...) {
    }
    throw;
  }
  Progress(psEnding, 100, "Loaded Graphic by Susie Plugin");
}

// The file engine

TInSPIAbleFromFile::TInSPIAbleFromFile(TSPIGraphic* AGraphic, const std::string& AFileName)
    : TInSPIAbleData(AGraphic, AFileName) {}

void TInSPIAbleFromFile::ReadHead(uint8_t* Buffer, size_t Size) {
  FNotAFile = false;
  UniqueFd fd(::open(FileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd) return;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    // A plug-in opening a pipe or a device would wait for ever.
    FNotAFile = true;
    return;
  }
  size_t want = std::min<size_t>(Size, size_t(std::max<off_t>(st.st_size, 0)));
  size_t got = 0;
  while (got < want) {
    ssize_t n = ::read(fd.Get(), Buffer + got, want - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += size_t(n);
  }
}

bool TInSPIAbleFromFile::HasDataAt(intptr_t) const { return !FNotAFile; }

void TInSPIAbleFromFile::Source(intptr_t Offset, const char*& Buf, intptr_t& Len, uint32_t& Flag) const {
  Buf = FileName.c_str();
  Len = Offset;
  Flag = SUSIE_INPUT_FILE;
}

void TInSPIAbleFromFile::QueryInfo(TInSPI* SPI, intptr_t Offset, SusiePictureInfo& AInfo, bool& AInfoValid) {
  AInfoValid = SPI->GetPictureInfo(FileName.c_str(), Offset, SUSIE_INPUT_FILE, &AInfo) == 0;
}

void TInSPIAbleFromFile::DecodePreview(TInSPI* SPI, intptr_t Offset, void*& AHBInfo, void*& AHBm) {
  AHBInfo = AHBm = nullptr;
  try {
    if (SPI->GetPreview(FileName.c_str(), Offset, SUSIE_INPUT_FILE, &AHBInfo, &AHBm, &ProgressCallback,
                        reinterpret_cast<intptr_t>(this)) != 0)
      AHBInfo = AHBm = nullptr;
  } catch (const ESPIInvalidAPI&) {
    AHBInfo = AHBm = nullptr;
  }
}

void TInSPIAbleFromFile::DecodePicture(TInSPI* SPI, intptr_t Offset, void*& AHBInfo, void*& AHBm) {
  AHBInfo = AHBm = nullptr;
  if (SPI->GetPicture(FileName.c_str(), Offset, SUSIE_INPUT_FILE, &AHBInfo, &AHBm, &ProgressCallback,
                      reinterpret_cast<intptr_t>(this)) != 0)
    AHBInfo = AHBm = nullptr;
}

// The memory engine

TInSPIAbleFromStream::TInSPIAbleFromStream(TSPIGraphic* AGraphic, const std::string& AFileName, QIODevice& Stream)
    : TInSPIAbleData(AGraphic, AFileName) {
  if (auto* buffer = dynamic_cast<QBuffer*>(&Stream)) {
    const QByteArray& bytes = buffer->data();
    Data = reinterpret_cast<const uint8_t*>(bytes.constData());
    Size = size_t(bytes.size());
    return;
  }
  if (!Stream.isSequential()) Stream.seek(0);
  // A picture file past this size is none we would decode.
  constexpr qint64 kMaxCopy = qint64(1) << 31;
  if (!Stream.isSequential() && Stream.size() > kMaxCopy) return;
  Copy = ReadAtMost(Stream, kMaxCopy);
  Data = reinterpret_cast<const uint8_t*>(Copy.constData());
  Size = size_t(Copy.size());
}

void TInSPIAbleFromStream::ReadHead(uint8_t* Buffer, size_t ASize) {
  if (Data) std::memcpy(Buffer, Data, std::min(Size, ASize));
}

void TInSPIAbleFromStream::Source(intptr_t Offset, const char*& Buf, intptr_t& Len, uint32_t& Flag) const {
  Buf = reinterpret_cast<const char*>(Data + Offset);
  Len = intptr_t(Size) - Offset;
  Flag = SUSIE_INPUT_MEMORY;
}

void TInSPIAbleFromStream::QueryInfo(TInSPI* SPI, intptr_t Offset, SusiePictureInfo& AInfo, bool& AInfoValid) {
  AInfoValid = SPI->GetPictureInfo(reinterpret_cast<const char*>(Data + Offset), intptr_t(Size) - Offset,
                                   SUSIE_INPUT_MEMORY, &AInfo) == 0;
}

void TInSPIAbleFromStream::DecodePreview(TInSPI* SPI, intptr_t Offset, void*& AHBInfo, void*& AHBm) {
  AHBInfo = AHBm = nullptr;
  try {
    if (SPI->GetPreview(reinterpret_cast<const char*>(Data + Offset), intptr_t(Size) - Offset, SUSIE_INPUT_MEMORY,
                        &AHBInfo, &AHBm, &ProgressCallback, reinterpret_cast<intptr_t>(this)) != 0)
      AHBInfo = AHBm = nullptr;
  } catch (const ESPIInvalidAPI&) {
    AHBInfo = AHBm = nullptr;
  }
}

void TInSPIAbleFromStream::DecodePicture(TInSPI* SPI, intptr_t Offset, void*& AHBInfo, void*& AHBm) {
  AHBInfo = AHBm = nullptr;
  if (SPI->GetPicture(reinterpret_cast<const char*>(Data + Offset), intptr_t(Size) - Offset, SUSIE_INPUT_MEMORY,
                      &AHBInfo, &AHBm, &ProgressCallback, reinterpret_cast<intptr_t>(this)) != 0)
    AHBInfo = AHBm = nullptr;
}
