#pragma once
// The picture-format registry: file extension -> description and graphic
// class. Extensions are compared ignoring ASCII case, with or without their
// leading dot; of several registrations of one extension the latest wins,
// and removing it makes the earlier one visible again. ".bmp" starts
// registered with TBitmap. Safe to use from any thread.
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/Graphic.h"

struct TFileFormat {
  std::string Extension;  // without the dot, as registered
  std::string Description;
  TGraphicClass GraphicClass;
};

void RegisterFileFormat(const std::string& extension, const std::string& description, TGraphicClass graphicClass);
// Removes every registration of that class.
void UnregisterGraphicClass(TGraphicClass graphicClass);
// Null / empty when the extension is not registered.
TGraphicClass GraphicClassForExtension(const std::string& extension);
std::string GraphicDescriptionForExtension(const std::string& extension);
// The formats in effect, the latest registration first, each extension once.
std::vector<TFileFormat> RegisteredFileFormats();

// A picture that holds one graphic of whatever class its file's extension is
// registered with.
class TPicture {
 public:
  TPicture() = default;
  ~TPicture();

  // Throws EInvalidGraphic "不明な画像ファイルの拡張子です (.ext)" for an
  // unregistered extension, and whatever the graphic's loader throws (the
  // picture is then empty).
  void LoadFromFile(const std::string& fileName);
  void Clear() { FGraphic.reset(); }

  TGraphic* Graphic() const { return FGraphic.get(); }
  int Width() const { return FGraphic ? FGraphic->Width() : 0; }
  int Height() const { return FGraphic ? FGraphic->Height() : 0; }

  // Passed on to each graphic the picture loads.
  TProgressEvent OnProgress;

 private:
  std::unique_ptr<TGraphic> FGraphic;
};

// The extension of the file-name part, with its dot ("" when none).
std::string ExtractFileExt(const std::string& fileName);
