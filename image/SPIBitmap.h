#pragma once
// A bitmap that reads the picture formats of the Susie plug-ins: the host
// registers every plug-in extension with this class. After loading it is a
// plain bitmap and keeps no plug-in data. ".bmp" files go to the bitmap
// reader first and to the plug-ins second; everything else the other way.
#include <functional>
#include <memory>
#include <string>

#include "image/SPIGraphic.h"
#include "platform/graphics/Bitmap.h"

using TSPILoadFromStreamWithNameEvent = std::function<void(QIODevice& Stream, const std::string& FileName)>;

class TSPIBitmap : public TBitmap {
 public:
  TGRAPHIC_CLASS_DECLARE()
  TSPIBitmap() = default;

  // A TSPIGraphic source is converted (its plug-in data kept).
  void Assign(const TGraphic* Source) override;
  // Both end with the ending progress event "Loaded Graphic", failed or not.
  void LoadFromFile(const std::string& FileName) override;
  void LoadFromStream(QIODevice& Stream) override { LoadFromStreamWithName(Stream, ""); }
  virtual void LoadFromStreamWithName(QIODevice& Stream, const std::string& FileName);
  // Takes a freshly loaded graphic (null: EInvalidGraphic "Susie Plugins
  // could not decode") and always frees it.
  virtual void AssignLoaded(std::unique_ptr<TGraphic> Graphic);

  // Reading gives this bitmap's LoadFromStreamWithName; setting it does nothing.
  TSPILoadFromStreamWithNameEvent OnLoadFromStreamWithName() {
    return [this](QIODevice& Stream, const std::string& FileName) { LoadFromStreamWithName(Stream, FileName); };
  }
  void SetOnLoadFromStreamWithName(const TSPILoadFromStreamWithNameEvent&) {}

 private:
  // The inner readers' progress as this bitmap's own, without their endings.
  TProgressEvent Forwarder();
  void ProgressEnd();
  // Assigns a converted bitmap and, for a 4-bit picture, the plug-in's colours.
  void AssignConverted(std::unique_ptr<TBitmap> bitmap, bool is4Bit, const TPalette& palette);
};

// The unit's start and end: names TSPIBitmap as the class of plug-in formats,
// and at the end removes it and every extension registered for it.
struct TSPIBitmapUnit {
  TSPIBitmapUnit();
  ~TSPIBitmapUnit();
};
inline const TSPIBitmapUnit SPIBitmapUnit;
