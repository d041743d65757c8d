// libFuzzer target for one picture plug-in, compiled together with the plug-in's own
// sources (scripts/fuzz-plugins.sh). Feeds the input as memory to the interface calls,
// checks that a picture handed back is as large as its header says, and aborts some
// decodes through the progress callback.
#include <cstdlib>
#include <cstring>

#define SUSIE_PLUGIN_IMPLEMENTATION
#include "image/SusiePluginApi.h"

namespace {

int32_t AbortAfter(int32_t, int32_t, intptr_t data) {
  auto* left = reinterpret_cast<int*>(data);
  return --*left < 0;
}

// Every byte the header promises must be there: ASan reports it when it is not.
void Check(const void* hbInfo, const void* hbm) {
  BITMAPINFOHEADER h;
  std::memcpy(&h, hbInfo, sizeof h);
  if (h.biSize != 40 || h.biWidth <= 0 || h.biHeight <= 0 || h.biPlanes != 1) std::abort();
  if (h.biBitCount != 8 && h.biBitCount != 24 && h.biBitCount != 32) std::abort();
  size_t stride = ((size_t(h.biWidth) * h.biBitCount + 31) / 32) * 4;
  size_t image = stride * size_t(h.biHeight);
  volatile uint8_t sink = static_cast<const uint8_t*>(hbm)[0] ^ static_cast<const uint8_t*>(hbm)[image - 1];
  if (h.biBitCount == 8) {
    if (h.biClrUsed != 256) std::abort();
    sink = sink ^ static_cast<const uint8_t*>(hbInfo)[40 + 4 * 256 - 1];
  }
  (void)sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t head[SUSIE_HEAD_SIZE] = {};
  std::memcpy(head, data, size < sizeof head ? size : sizeof head);
  IsSupported("", head);

  // The input lives in a block of exactly its size, so reading past it is caught.
  char* copy = static_cast<char*>(std::malloc(size ? size : 1));
  if (size) std::memcpy(copy, data, size);
  SusiePictureInfo info;
  if (GetPictureInfo(copy, intptr_t(size), SUSIE_INPUT_MEMORY, &info) == SUSIE_OK) std::free(info.hInfo);

  void *hbInfo = nullptr, *hbm = nullptr;
  // The last byte decides whether the decode is cut short after a few progress reports.
  int left = size && data[size - 1] < 16 ? data[size - 1] : 1 << 30;
  int32_t result = GetPicture(copy, intptr_t(size), SUSIE_INPUT_MEMORY, &hbInfo, &hbm, AbortAfter,
                              reinterpret_cast<intptr_t>(&left));
  if (result == SUSIE_OK) {
    if (!hbInfo || !hbm) std::abort();
    Check(hbInfo, hbm);
  } else if (hbInfo || hbm) {
    std::abort();  // a failed call hands back nothing
  }
  std::free(hbInfo);
  std::free(hbm);

  // The fitted entry, into a box the first bytes choose, under a small memory limit.
  hbInfo = hbm = nullptr;
  const int32_t box = size > 1 ? 1 + data[0] % 64 : 16;
  result = GetPictureFit(copy, intptr_t(size), SUSIE_INPUT_MEMORY, box, 1 + box / 2, uint64_t(1) << 24, &hbInfo, &hbm,
                         nullptr, 0);
  if (result == SUSIE_OK) {
    if (!hbInfo || !hbm) std::abort();
    Check(hbInfo, hbm);
  } else if (hbInfo || hbm) {
    std::abort();
  }
  std::free(hbInfo);
  std::free(hbm);
  std::free(copy);
  return 0;
}
