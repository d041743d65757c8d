#pragma once
// Pictures for the preview: read by the format of their extension and
// scaled down, keeping their shape, to fit the pane they are shown in. The
// reading runs on a worker thread of its own, so the window never waits.
#include <QImage>
#include <QObject>
#include <QSize>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

// The size a picture takes in an area: one larger than the area in either
// direction touches its limiting side; a smaller one keeps its size. No side
// is ever fitted to less than 1 pixel.
QSize FittedPictureSize(QSize picture, QSize area);

// What a decode for the preview came to.
struct TPreviewPicture {
  QImage Image;          // the fitted picture, or null
  std::string Message;   // shown in the pane instead: a picture refused as too large
  std::string Error;     // the picture could not be read: reported, the pane kept as it was
  bool Stopped = false;  // no longer wanted; nothing to show
};

// The decode memory limit when the INI file names none.
constexpr uint64_t kDefaultPictureMemoryLimit = uint64_t(256) << 20;

// The pane's text for a picture that would take more than limit bytes.
std::string PictureTooLargeText(int width, int height, uint64_t limit);

// Reads the picture at path and fits it into area, asking the plug-ins for a
// picture of about that size and refusing one whose whole decode would pass
// memoryLimit when no plug-in can fit it. stop is polled while it works.
TPreviewPicture DecodePreviewPicture(const std::string& path, QSize area, uint64_t memoryLimit,
                                     const std::function<bool()>& stop = {});

// One worker thread that decodes the newest picture asked for. A new request
// stops the decode at work (through the plug-ins' progress callback) and
// replaces any waiting one; only the newest answer is delivered, on the
// thread that owns the loader.
class TPictureLoader : public QObject {
 public:
  using TDone = std::function<void(const TPreviewPicture&)>;
  TPictureLoader();
  ~TPictureLoader() override;

  void Load(const std::string& path, QSize area, uint64_t memoryLimit, TDone done);
  // Nothing asked so far is delivered; a decode at work is stopped.
  void Stop();
  // A request is waiting for its answer.
  bool Busy() const { return FActive != 0; }
  // Decodes stopped before their end because they were no longer wanted.
  int StoppedCount() const { return FStoppedCount.load(); }

 private:
  struct TJob {
    uint64_t Id;
    std::string Path;
    QSize Area;
    uint64_t MemoryLimit;
    TDone Done;
  };
  void Run();

  std::mutex FMutex;
  std::condition_variable FWake;
  std::optional<TJob> FPending;
  bool FQuit = false;
  std::atomic<uint64_t> FWanted{0};  // the only request whose answer counts
  std::atomic<int> FStoppedCount{0};
  uint64_t FLastId = 0;
  uint64_t FActive = 0;  // owner's thread: the request not yet answered, 0 for none
  std::thread FThread;
};
