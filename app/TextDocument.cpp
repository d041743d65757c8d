#include "app/TextDocument.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/system/Exception.h"
#include "platform/system/TextFiles.h"

namespace {

constexpr int64_t kCheckpointRows = 64;
constexpr size_t kReadBlock = 1u << 20;
// Enough bytes to find the end of any row.
constexpr size_t kRowWindow = kRowBytes + 8;
// How often indexing reports more rows.
constexpr auto kProgressEvery = std::chrono::milliseconds(40);

bool EightBitWithoutNul(std::string_view b) {
  return b.find('\0') == std::string_view::npos &&
         std::any_of(b.begin(), b.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

}  // namespace

// A stretch of the file in memory, read again only when a row leaves it.
class TTextDocument::TWindow {
 public:
  TWindow(const TReadOnlyFile& file, uint64_t size, int& error) : file_(file), size_(size), error_(error) {}

  // The bytes from offset on, at least want of them unless the file ends first.
  std::string_view At(uint64_t offset, size_t want, bool& atEnd) {
    const bool inside = offset >= start_ && offset <= start_ + length_;
    if (!inside || (offset + want > start_ + length_ && !end_)) {
      const size_t size =
          static_cast<size_t>(std::min<uint64_t>(std::max(kReadBlock, want), size_ - std::min(offset, size_)));
      buffer_.resize(std::max(kReadBlock, want));
      ssize_t got = size ? file_.ReadAt(offset, buffer_.data(), size) : 0;
      if (got < 0) {
        error_ = static_cast<int>(-got);
        got = 0;
      }
      start_ = offset;
      length_ = static_cast<size_t>(got);
      // A file cut shorter since it was opened ends where the reading does.
      end_ = start_ + length_ >= size_ || length_ < size;
    }
    atEnd = end_;
    return std::string_view(buffer_.data() + (offset - start_), length_ - (offset - start_));
  }

 private:
  const TReadOnlyFile& file_;
  uint64_t size_;
  int& error_;
  std::string buffer_;
  uint64_t start_ = 0;
  size_t length_ = 0;
  bool end_ = false;
};

TTextDocument::TTextDocument(const std::string& path, std::optional<TTextEncoding> forced)
    : file_(std::make_shared<TReadOnlyFile>()), path_(path), forced_(forced) {
  if (int error = file_->Open(path); error != 0) {
    std::string message = "ファイルを読み込めません: " + path;
    if (error > 0) message += std::string(" (") + std::strerror(error) + ")";
    throw Exception(message);
  }
  size_ = file_->Size();
}

TTextDocument::TTextDocument(const TTextDocument& other, std::optional<TTextEncoding> forced)
    : file_(other.file_), path_(other.path_), size_(other.size_), forced_(forced) {}

TTextDocument::~TTextDocument() = default;

void TTextDocument::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
}

void TTextDocument::RequestRows(int64_t first, int count) {
  {
    std::lock_guard lock(mutex_);
    requests_.push_back({false, first, count, {}, {}, 0});
  }
  wake_.notify_all();
}

void TTextDocument::RequestCopy(TTextPos from, TTextPos to, int mode) {
  {
    std::lock_guard lock(mutex_);
    requests_.push_back({true, 0, 0, from, to, mode});
  }
  wake_.notify_all();
}

bool TTextDocument::TakeRequest(TRequest& request) {
  std::unique_lock lock(mutex_);
  // Once the index is whole there is nothing else to do than wait.
  if (indexed_) wake_.wait(lock, [this] { return stop_ || !requests_.empty(); });
  if (stop_ || requests_.empty()) return false;
  request = requests_.front();
  requests_.pop_front();
  return true;
}

void TTextDocument::Detect() {
  std::string head(kDetectSample + 1, '\0');
  ssize_t got = file_->ReadAt(0, head.data(), head.size());
  if (got < 0) {
    readError_ = static_cast<int>(-got);
    got = 0;
  }
  head.resize(static_cast<size_t>(got));
  const bool cut = head.size() > kDetectSample;
  std::string sample = head.substr(0, kDetectSample);
  if (!forced_ && cut && !EightBitWithoutNul(sample) && sample.find('\0') == std::string::npos) {
    // A head of plain ASCII says little (a log that turns Japanese later): the tail tells more.
    std::string tail(kDetectSample, '\0');
    ssize_t tailGot = file_->ReadAt(size_ - std::min<uint64_t>(size_, kDetectSample), tail.data(), tail.size());
    tail.resize(static_cast<size_t>(std::max<ssize_t>(tailGot, 0)));
    if (EightBitWithoutNul(tail)) sample += "\n" + tail;
  }
  const TTextEncoding encoding = forced_ ? *forced_ : DetectTextEncoding(sample, cut);
  encoding_ = encoding;
  detected_ = true;
  start_ = indexPos_ = ByteOrderMarkLength(head, encoding);
  if (encoding == TTextEncoding::Binary) {
    // The note, then 16 bytes a row.
    rowCount_ = 1 + static_cast<int64_t>((std::min<uint64_t>(size_, kBinaryPreviewLimit) + 15) / 16);
    indexed_ = true;
  }
}

bool TTextDocument::IndexBlock(TWindow& window) {
  if (indexPos_ >= size_) return false;
  bool atEnd = false;
  std::string_view data = window.At(indexPos_, kReadBlock, atEnd);
  size_t used = 0;
  int64_t rows = rowCount_.load();
  const TTextEncoding encoding = encoding_.load();
  // Where LF ends a line and no state is kept, most rows need no more than a search for it.
  const bool plain =
      encoding != TTextEncoding::Utf16LE && encoding != TTextEncoding::Utf16BE && encoding != TTextEncoding::Iso2022Jp;
  auto checkpoint = [&] {
    if ((rows & (kCheckpointRows - 1)) == 0) {
      offsets_.push_back(indexPos_ + used);
      states_.push_back(indexState_);
    }
    ++rows;
  };
  TRowEnd row;
  while (used < data.size()) {
    if (plain) {
      const char* p = data.data() + used;
      const void* lf = *p == '\n' ? p : std::memchr(p, '\n', std::min(data.size() - used, kRowBytes + 1));
      if (lf && (lf == p || !std::memchr(p, '\r', static_cast<const char*>(lf) - p))) {
        checkpoint();
        used += static_cast<const char*>(lf) - p + 1;
        continue;
      }
    }
    if (!FindRowEnd(data.substr(used), atEnd, encoding, indexState_, row)) break;
    checkpoint();
    used += row.next;
    indexState_ = row.state;
  }
  indexPos_ += used;
  rowCount_ = rows;
  // The end of the file, or of what can be read of it.
  return !(atEnd && used >= data.size()) && used > 0;
}

void TTextDocument::ForEachRow(TWindow& window, int64_t first, int64_t last,
                               const std::function<bool(int64_t, TTextRow&&)>& visit) {
  last = std::min(last, rowCount_.load() - 1);
  if (first < 0 || first > last) return;
  const TTextEncoding encoding = encoding_.load();
  if (encoding == TTextEncoding::Binary) {
    for (int64_t row = first; row <= last && !stop_; ++row) {
      if (row == 0) {
        if (!visit(row, {HexDumpNote(size_), true})) return;
        continue;
      }
      const uint64_t offset = static_cast<uint64_t>(row - 1) * 16;
      bool atEnd = false;
      std::string_view bytes = window.At(offset, 16, atEnd).substr(0, 16);
      if (!visit(row, {HexRow(bytes, offset), true})) return;
    }
    return;
  }
  const size_t checkpoint = static_cast<size_t>(first / kCheckpointRows);
  if (checkpoint >= offsets_.size()) return;
  uint64_t pos = offsets_[checkpoint];
  uint8_t state = states_[checkpoint];
  for (int64_t row = static_cast<int64_t>(checkpoint) * kCheckpointRows; row <= last && !stop_; ++row) {
    bool atEnd = false;
    std::string_view data = window.At(pos, kRowWindow, atEnd);
    TRowEnd end;
    if (data.empty() || !FindRowEnd(data, atEnd, encoding, state, end)) return;
    if (row >= first && !visit(row, {DecodeRow(data.substr(0, end.length), encoding, state), end.next > end.length}))
      return;
    pos += end.next;
    state = end.state;
  }
}

void TTextDocument::Serve(TWindow& window, const TRequest& request, const TListener& listener) {
  if (!request.copy) {
    std::vector<TTextRow> rows;
    ForEachRow(window, request.first, request.first + request.count - 1, [&](int64_t, TTextRow&& row) {
      rows.push_back(std::move(row));
      return true;
    });
    listener.Rows(request.first, std::move(rows));
    return;
  }
  QString text;
  bool cut = false;
  ForEachRow(window, request.from.row, request.to.row, [&](int64_t row, TTextRow&& line) {
    const qsizetype from = row == request.from.row ? std::min<qsizetype>(request.from.col, line.text.size()) : 0;
    const qsizetype to =
        row == request.to.row ? std::min<qsizetype>(request.to.col, line.text.size()) : line.text.size();
    if (to > from) text += QStringView(line.text).mid(from, to - from);
    if (row < request.to.row && line.lineEnd) text += u'\n';
    if (text.size() > kCopyLimit) {
      text.truncate(kCopyLimit);
      cut = true;
      return false;
    }
    return true;
  });
  listener.Copied(std::move(text), cut, request.mode);
}

void TTextDocument::Run(const TListener& listener) {
  if (stop_) return;
  Detect();
  listener.Progress();
  TWindow indexWindow(*file_, size_, readError_), readWindow(*file_, size_, readError_);
  auto reported = std::chrono::steady_clock::now();
  while (!stop_) {
    TRequest request;
    if (TakeRequest(request)) {
      // What the view waits for comes before more of the index.
      Serve(readWindow, request, listener);
    } else if (!indexed_) {
      const bool more = IndexBlock(indexWindow);
      if (!more) {
        std::lock_guard lock(mutex_);
        indexed_ = true;
      }
      const auto now = std::chrono::steady_clock::now();
      if (!more || now - reported >= kProgressEvery) {
        reported = now;
        listener.Progress();
      }
    }
    if (readError_ != 0) {
      listener.Failed(
          QString::fromStdString("ファイルを読み込めません: " + path_ + " (" + std::strerror(readError_) + ")"));
      return;
    }
  }
}
