#pragma once
// The text preview's view: a read-only text of any size, read by a worker
// (TTextDocument) and painted a screen at a time. Long lines wrap at the
// view's width; selection, copying, the scrolling keys and the wheel work as
// in a read-only text edit, and the context menu chooses the encoding.
#include <QAbstractScrollArea>
#include <QThreadPool>
#include <QTimer>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/TextDocument.h"

class QMenu;
class QTextLayout;

class TTextView : public QAbstractScrollArea {
  Q_OBJECT
 public:
  explicit TTextView(QWidget* parent = nullptr);
  ~TTextView() override;

  // Shows path, read in the background; a load still running for an earlier
  // file is stopped. Throws Exception when the file cannot be opened; what
  // was shown then stays.
  void Open(const std::string& path);
  // Reads the shown file again in encoding (none: the detected one).
  void SetEncoding(std::optional<TTextEncoding> encoding);
  void clear();

  const std::string& Path() const;
  std::optional<TTextEncoding> Encoding() const;  // none until it is known
  int64_t RowCount() const;
  bool Indexed() const;  // every row is known
  // The rows painted last, top to bottom, and the first of them.
  QStringList ShownRows() const;
  // The whole file is indexed and every row on the screen was painted.
  bool Settled() const;
  TTextPos Top() const { return {top_.row, top_.sub}; }

  bool HasSelection() const;
  void SelectAll();
  // Copies the selection to the clipboard once the worker has read it.
  void Copy();
  // The context menu (the caller owns it).
  QMenu* CreateContextMenu();

 protected:
  bool event(QEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;
  void changeEvent(QEvent* e) override;

 private:
  struct TLinePos {  // a row and a wrapped line of it
    int64_t row = 0;
    int sub = 0;
    auto operator<=>(const TLinePos&) const = default;
  };
  struct TPainted {
    int64_t row;
    int y;
    int lines;
  };

  void Start(std::shared_ptr<TTextDocument> document);
  void Reset();
  const TTextRow* RowAt(int64_t row) const;
  void Want(int64_t row);
  QTextLayout* LayoutOf(int64_t row);
  int LineCount(int64_t row);
  int VisibleLines() const;
  TLinePos Advance(TLinePos pos, int lines);
  TLinePos LastTop();
  void ScrollTo(TLinePos pos, bool followEnd);
  void ScrollLines(int lines);
  void SyncScrollBar();
  TTextPos HitTest(QPoint point);
  std::pair<TTextPos, TTextPos> Selection() const;
  void RequestCopy(int mode);
  void RowsArrived(int64_t first, std::vector<TTextRow> rows);
  void Progressed();
  void AutoScroll();

  QThreadPool pool_;
  std::shared_ptr<TTextDocument> document_;
  QString message_;  // a read that failed

  // Row blocks read so far, the newest kept; blocks asked for.
  std::map<int64_t, std::vector<TTextRow>> blocks_;
  std::vector<int64_t> blockAge_;
  std::map<int64_t, bool> pending_;
  std::unordered_map<int64_t, std::unique_ptr<QTextLayout>> layouts_;

  TLinePos top_;
  bool followEnd_ = false;
  bool syncing_ = false;
  int lineHeight_ = 16;
  int wheelRest_ = 0;
  std::vector<TPainted> painted_;

  TTextPos anchor_, cursor_;
  bool allSelected_ = false;
  bool selecting_ = false;
  QPoint dragPoint_;
  QTimer autoScroll_;
};
