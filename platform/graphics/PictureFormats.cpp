#include "platform/graphics/PictureFormats.h"

#include <algorithm>
#include <mutex>

#include "platform/graphics/Bitmap.h"

namespace {

std::string Key(const std::string& extension) {
  std::string k = !extension.empty() && extension[0] == '.' ? extension.substr(1) : extension;
  for (char& c : k)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return k;
}

struct Registry {
  std::mutex mutex;
  std::vector<TFileFormat> formats;  // oldest first
  Registry() { formats.push_back({"bmp", "ビットマップ", TBitmap::StaticClass()}); }
};

// Never destroyed: units unregister their classes while the program ends.
Registry& TheRegistry() {
  static Registry* registry = new Registry;
  return *registry;
}

const TFileFormat* Find(const std::vector<TFileFormat>& formats, const std::string& extension) {
  const std::string key = Key(extension);
  for (auto it = formats.rbegin(); it != formats.rend(); ++it)
    if (Key(it->Extension) == key) return &*it;
  return nullptr;
}

}  // namespace

void RegisterFileFormat(const std::string& extension, const std::string& description, TGraphicClass graphicClass) {
  if (!graphicClass) return;
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  std::string ext = !extension.empty() && extension[0] == '.' ? extension.substr(1) : extension;
  r.formats.push_back({ext, description, graphicClass});
}

void UnregisterGraphicClass(TGraphicClass graphicClass) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  std::erase_if(r.formats, [graphicClass](const TFileFormat& f) { return f.GraphicClass == graphicClass; });
}

TGraphicClass GraphicClassForExtension(const std::string& extension) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  const TFileFormat* f = Find(r.formats, extension);
  return f ? f->GraphicClass : nullptr;
}

std::string GraphicDescriptionForExtension(const std::string& extension) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  const TFileFormat* f = Find(r.formats, extension);
  return f ? f->Description : std::string();
}

std::vector<TFileFormat> RegisteredFileFormats() {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  std::vector<TFileFormat> out;
  for (auto it = r.formats.rbegin(); it != r.formats.rend(); ++it)
    if (std::none_of(out.begin(), out.end(),
                     [&](const TFileFormat& f) { return Key(f.Extension) == Key(it->Extension); }))
      out.push_back(*it);
  return out;
}

std::string ExtractFileExt(const std::string& fileName) {
  size_t slash = fileName.rfind('/');
  size_t dot = fileName.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return fileName.substr(dot);
}

TPicture::~TPicture() = default;

void TPicture::LoadFromFile(const std::string& fileName) {
  const std::string ext = ExtractFileExt(fileName);
  TGraphicClass cls = ext.size() > 1 ? GraphicClassForExtension(ext) : nullptr;
  if (!cls || !cls->Create) throw EInvalidGraphic("不明な画像ファイルの拡張子です (" + ext + ")");
  FGraphic.reset();
  std::unique_ptr<TGraphic> graphic = cls->Create();
  graphic->OnProgress = OnProgress;
  graphic->LoadFromFile(fileName);
  FGraphic = std::move(graphic);
}
