#pragma once
// A text file as rows for the text view, read by a worker: the encoding is
// decided from the file's head, then an index of where every 64th row starts
// is built block by block, and rows are read and decoded only when the view
// asks for them. Memory stays near the index (about 9 bytes per 64 rows) and
// two read buffers, whatever the size of the file.
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/TextPreview.h"

class TReadOnlyFile;

// A place in the text: a row and a UTF-16 index in its text (past the end
// means the end of the row).
struct TTextPos {
  int64_t row = 0;
  int col = 0;
  auto operator<=>(const TTextPos&) const = default;
};

struct TTextRow {
  QString text;
  bool lineEnd = false;  // false: a long line goes on in the next row
};

class TTextDocument {
 public:
  // What the worker reports; called on the worker's thread.
  struct TListener {
    std::function<void()> Progress;  // the encoding is known, or more rows are indexed
    std::function<void(int64_t first, std::vector<TTextRow> rows)> Rows;
    std::function<void(QString text, bool cut, int mode)> Copied;
    std::function<void(QString message)> Failed;
  };

  // Opens path on the caller's thread (an open and a stat; no read). Throws
  // Exception when it cannot be read or is not a regular file.
  TTextDocument(const std::string& path, std::optional<TTextEncoding> forced);
  // The same opened file again, in another encoding.
  TTextDocument(const TTextDocument& other, std::optional<TTextEncoding> forced);
  ~TTextDocument();

  // The worker: decides the encoding, indexes, serves requests until Stop().
  void Run(const TListener& listener);
  void Stop();

  void RequestRows(int64_t first, int count);
  // The text from from to to (exclusive); mode is handed back with it.
  void RequestCopy(TTextPos from, TTextPos to, int mode);

  const std::string& Path() const { return path_; }
  std::optional<TTextEncoding> Forced() const { return forced_; }
  // Valid once the first Progress came.
  TTextEncoding Encoding() const { return encoding_.load(); }
  bool Detected() const { return detected_.load(); }
  int64_t RowCount() const { return rowCount_.load(); }
  bool Indexed() const { return indexed_.load(); }

  // The most a copy takes, in UTF-16 units.
  static constexpr qsizetype kCopyLimit = 32 * 1024 * 1024;

 private:
  struct TRequest {
    bool copy = false;
    int64_t first = 0;
    int count = 0;
    TTextPos from, to;
    int mode = 0;
  };
  class TWindow;

  void Detect();
  bool IndexBlock(TWindow& window);
  // Calls visit for each row from first to last while it returns true.
  void ForEachRow(TWindow& window, int64_t first, int64_t last, const std::function<bool(int64_t, TTextRow&&)>& visit);
  bool TakeRequest(TRequest& request);
  void Serve(TWindow& window, const TRequest& request, const TListener& listener);

  std::shared_ptr<TReadOnlyFile> file_;
  std::string path_;
  uint64_t size_ = 0;
  std::optional<TTextEncoding> forced_;
  std::atomic<TTextEncoding> encoding_{TTextEncoding::Utf8};
  std::atomic<int64_t> rowCount_{0};
  std::atomic<bool> detected_{false};
  std::atomic<bool> indexed_{false};
  std::atomic<bool> stop_{false};
  int readError_ = 0;

  // Worker only: where every kCheckpointRows-th row starts, and its state.
  std::vector<uint64_t> offsets_;
  std::vector<uint8_t> states_;
  uint64_t start_ = 0;  // past a byte-order mark
  uint64_t indexPos_ = 0;
  uint8_t indexState_ = 0;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<TRequest> requests_;
};
