#pragma once
// platform/graphics: stands in for the GUI framework's graphic, bitmap and
// picture-format classes. Uses system and Qt Gui. Pixels live in a QImage; it never draws on a screen
// itself (Draw paints onto the QPainter it is given) and never decodes a
// format other than BMP: other formats come from picture plug-ins.
//
// This header: the graphic base class, its class references (what the
// picture-format registry stores and creates), progress events and the
// exceptions of the family.
#include <QRect>
#include <QRgb>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/system/Exception.h"

class QIODevice;
class QPainter;
class TGraphic;

// A class reference: what the registry maps an extension to, and what
// creates a graphic of a class chosen at run time.
struct TGraphicClassInfo {
  const char* ClassName;
  const TGraphicClassInfo* Parent;        // null for the root class
  std::unique_ptr<TGraphic> (*Create)();  // null for abstract classes
};
using TGraphicClass = const TGraphicClassInfo*;

// True when cls is base or derives from it.
bool ClassInheritsFrom(TGraphicClass cls, TGraphicClass base);

enum TProgressStage { psStarting, psRunning, psEnding };

using TProgressEvent = std::function<void(TGraphic* Sender, TProgressStage Stage, uint8_t PercentDone, bool RedrawNow,
                                          const QRect& R, const std::string& Msg)>;
using TNotifyEvent = std::function<void(TGraphic* Sender)>;

// A colour table: entry i is the colour of index i (alpha ignored).
using TPalette = std::vector<QRgb>;

// The picture is unreadable or of an unknown kind.
class EInvalidGraphic : public Exception {
 public:
  using Exception::Exception;
};

// An operation the graphic does not allow in its current state.
class EInvalidGraphicOperation : public Exception {
 public:
  using Exception::Exception;
};

// A file could not be opened or written.
class EFOpenError : public Exception {
 public:
  using Exception::Exception;
};

// The silent abort: the guard shows nothing for it. A progress handler throws
// it to stop a long load.
class EAbort : public Exception {
 public:
  EAbort() : Exception("操作は中止されました") {}
  using Exception::Exception;
};

class TGraphic {
 public:
  TGraphic() = default;
  virtual ~TGraphic() = default;
  TGraphic(const TGraphic&) = delete;
  TGraphic& operator=(const TGraphic&) = delete;

  static TGraphicClass StaticClass();
  virtual TGraphicClass ClassType() const;
  bool InheritsFrom(TGraphicClass cls) const { return ClassInheritsFrom(ClassType(), cls); }

  // Copies source into this graphic; the default asks source to do it
  // (AssignTo), which fails for unrelated classes.
  virtual void Assign(const TGraphic* source);
  virtual void AssignTo(TGraphic* dest) const;

  virtual void Draw(QPainter& canvas, const QRect& rect) = 0;

  bool Empty() const { return GetEmpty(); }
  int Width() const { return GetWidth(); }
  int Height() const { return GetHeight(); }
  void SetWidth(int value) { SetWidthImpl(value); }
  void SetHeight(int value) { SetHeightImpl(value); }
  TPalette Palette() const { return GetPalette(); }

  // Opens the file read-only (the path as bytes) and loads from it.
  virtual void LoadFromFile(const std::string& fileName);
  virtual void LoadFromStream(QIODevice& stream) = 0;
  // Writes atomically enough for our use: a new file, truncated.
  virtual void SaveToFile(const std::string& fileName);
  virtual void SaveToStream(QIODevice& stream) = 0;

  TProgressEvent OnProgress;
  TNotifyEvent OnChange;
  bool Modified = false;

 protected:
  virtual bool GetEmpty() const = 0;
  virtual int GetHeight() const = 0;
  virtual int GetWidth() const = 0;
  virtual TPalette GetPalette() const { return {}; }
  virtual void SetHeightImpl(int value) = 0;
  virtual void SetWidthImpl(int value) = 0;

  // Marks the graphic modified and fires OnChange.
  virtual void Changed();
  // Fires OnProgress when set; whatever the handler throws passes on.
  virtual void Progress(TGraphic* Sender, TProgressStage Stage, uint8_t PercentDone, bool RedrawNow, const QRect& R,
                        const std::string& Msg);
};

// Declares the class reference of a graphic class; the definition goes with
// TGRAPHIC_CLASS_DEFINE in its .cpp.
#define TGRAPHIC_CLASS_DECLARE()            \
  static TGraphicClass StaticClass();       \
  TGraphicClass ClassType() const override; \
  static std::unique_ptr<TGraphic> NewInstance();

#define TGRAPHIC_CLASS_DEFINE(Class, ParentClass)                                                 \
  std::unique_ptr<TGraphic> Class::NewInstance() { return std::make_unique<Class>(); }            \
  TGraphicClass Class::StaticClass() {                                                            \
    static const TGraphicClassInfo info{#Class, ParentClass::StaticClass(), &Class::NewInstance}; \
    return &info;                                                                                 \
  }                                                                                               \
  TGraphicClass Class::ClassType() const { return StaticClass(); }

// Opens a file by its path bytes for reading into a QIODevice; throws
// EFOpenError "ファイル %s を開けません".
std::unique_ptr<QIODevice> OpenFileStream(const std::string& fileName, bool forWriting = false);
