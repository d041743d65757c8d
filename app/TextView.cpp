#include "app/TextView.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <QToolTip>
#include <algorithm>
#include <climits>

#include "platform/system/Exception.h"

namespace {

constexpr int64_t kBlockRows = 128;
constexpr size_t kCachedBlocks = 12;
constexpr int kMargin = 4;
constexpr int kAutoScrollMs = 50;

int64_t BlockOf(int64_t row) { return row / kBlockRows; }

}  // namespace

TTextView::TTextView(QWidget* parent) : QAbstractScrollArea(parent) {
  // One worker: a load no longer wanted ends before the next one starts.
  pool_.setMaxThreadCount(1);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setCursor(Qt::IBeamCursor);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  verticalScrollBar()->setSingleStep(1);
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
    if (syncing_) return;
    ScrollTo({value, 0}, value == verticalScrollBar()->maximum() && value > 0);
  });
  autoScroll_.setInterval(kAutoScrollMs);
  connect(&autoScroll_, &QTimer::timeout, this, &TTextView::AutoScroll);
  changeEvent(nullptr);
}

TTextView::~TTextView() {
  if (document_) document_->Stop();
  pool_.waitForDone();
}

void TTextView::Open(const std::string& path) { Start(std::make_shared<TTextDocument>(path, std::nullopt)); }

void TTextView::SetEncoding(std::optional<TTextEncoding> encoding) {
  if (document_) Start(std::make_shared<TTextDocument>(*document_, encoding));
}

void TTextView::clear() {
  if (document_) document_->Stop();
  document_.reset();
  Reset();
}

void TTextView::Reset() {
  message_.clear();
  blocks_.clear();
  blockAge_.clear();
  pending_.clear();
  layouts_.clear();
  painted_.clear();
  top_ = {};
  followEnd_ = false;
  anchor_ = cursor_ = {};
  allSelected_ = selecting_ = false;
  SyncScrollBar();
  viewport()->update();
}

void TTextView::Start(std::shared_ptr<TTextDocument> document) {
  if (document_) document_->Stop();
  document_ = document;
  Reset();
  // The worker's reports come back on the window's thread; those of a
  // document no longer shown are dropped there.
  auto post = [this, document](auto call) {
    QMetaObject::invokeMethod(
        this,
        [this, document, call]() mutable {
          if (document_ == document) call();
        },
        Qt::QueuedConnection);
  };
  TTextDocument::TListener listener;
  listener.Progress = [post, this] { post([this] { Progressed(); }); };
  listener.Rows = [post, this](int64_t first, std::vector<TTextRow> rows) {
    post([this, first, rows = std::move(rows)]() mutable { RowsArrived(first, std::move(rows)); });
  };
  listener.Copied = [post, this](QString text, bool cut, int mode) {
    post([this, text, cut, mode] {
      QApplication::clipboard()->setText(text, static_cast<QClipboard::Mode>(mode));
      if (cut)
        QToolTip::showText(
            mapToGlobal(QPoint(width() / 4, height() / 2)),
            QString("選択範囲が大きいため、先頭の %1 文字だけをコピーしました").arg(TTextDocument::kCopyLimit), this);
    });
  };
  listener.Failed = [post, this](QString message) {
    post([this, message] {
      message_ = message;
      viewport()->update();
    });
  };
  pool_.start([document, listener] { document->Run(listener); });
}

const std::string& TTextView::Path() const {
  static const std::string none;
  return document_ ? document_->Path() : none;
}

std::optional<TTextEncoding> TTextView::Encoding() const {
  if (!document_ || !document_->Detected()) return std::nullopt;
  return document_->Encoding();
}

int64_t TTextView::RowCount() const { return document_ ? document_->RowCount() : 0; }
bool TTextView::Indexed() const { return document_ && document_->Indexed(); }

QStringList TTextView::ShownRows() const {
  QStringList rows;
  for (const TPainted& p : painted_)
    if (const TTextRow* row = RowAt(p.row)) rows << row->text;
  return rows;
}

bool TTextView::Settled() const {
  if (!document_ || !message_.isEmpty()) return true;
  if (!document_->Indexed() || !pending_.empty()) return false;
  return std::all_of(painted_.begin(), painted_.end(), [this](const TPainted& p) { return RowAt(p.row); }) &&
         (RowCount() == 0 || !painted_.empty());
}

// --- Rows and their layouts ------------------------------------------------------------

const TTextRow* TTextView::RowAt(int64_t row) const {
  auto it = blocks_.find(BlockOf(row));
  if (it == blocks_.end()) return nullptr;
  const size_t index = static_cast<size_t>(row - it->first * kBlockRows);
  return index < it->second.size() ? &it->second[index] : nullptr;
}

void TTextView::Want(int64_t row) {
  if (!document_ || row < 0 || row >= RowCount()) return;
  const int64_t block = BlockOf(row);
  auto it = blocks_.find(block);
  if (!pending_.count(block) && (it == blocks_.end() || row - block * kBlockRows >= int64_t(it->second.size()))) {
    pending_[block] = true;
    document_->RequestRows(block * kBlockRows, kBlockRows);
  }
  // The blocks in view are the newest.
  blockAge_.erase(std::remove(blockAge_.begin(), blockAge_.end(), block), blockAge_.end());
  blockAge_.push_back(block);
}

void TTextView::RowsArrived(int64_t first, std::vector<TTextRow> rows) {
  const int64_t block = BlockOf(first);
  pending_.erase(block);
  for (int64_t row = first; row < first + kBlockRows; ++row) layouts_.erase(row);
  blocks_[block] = std::move(rows);
  if (std::find(blockAge_.begin(), blockAge_.end(), block) == blockAge_.end()) blockAge_.push_back(block);
  while (blockAge_.size() > kCachedBlocks) {
    const int64_t old = blockAge_.front();
    blockAge_.erase(blockAge_.begin());
    blocks_.erase(old);
    for (int64_t row = old * kBlockRows; row < (old + 1) * kBlockRows; ++row) layouts_.erase(row);
  }
  if (followEnd_) top_ = LastTop();
  SyncScrollBar();
  viewport()->update();
}

void TTextView::Progressed() {
  // A block read while the index was shorter gets its later rows.
  for (const auto& [block, rows] : blocks_)
    if (rows.size() < size_t(kBlockRows) && block * kBlockRows + int64_t(rows.size()) < RowCount())
      Want(block * kBlockRows + int64_t(rows.size()));
  if (followEnd_) top_ = LastTop();
  SyncScrollBar();
  viewport()->update();
}

QTextLayout* TTextView::LayoutOf(int64_t row) {
  const TTextRow* text = RowAt(row);
  if (!text) return nullptr;
  std::unique_ptr<QTextLayout>& layout = layouts_[row];
  if (!layout) {
    layout = std::make_unique<QTextLayout>(text->text, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout->setTextOption(option);
    layout->setCacheEnabled(true);
    const qreal width = std::max(1, viewport()->width() - 2 * kMargin);
    layout->beginLayout();
    for (int i = 0;; ++i) {
      QTextLine line = layout->createLine();
      if (!line.isValid()) break;
      line.setLineWidth(width);
      line.setPosition(QPointF(0, i * lineHeight_));
    }
    layout->endLayout();
  }
  return layout.get();
}

int TTextView::LineCount(int64_t row) {
  QTextLayout* layout = LayoutOf(row);
  return layout ? std::max(1, layout->lineCount()) : 1;
}

int TTextView::VisibleLines() const { return std::max(1, (viewport()->height() - 2 * kMargin) / lineHeight_); }

// --- Scrolling ---------------------------------------------------------------------------

TTextView::TLinePos TTextView::Advance(TLinePos pos, int lines) {
  const int64_t rows = RowCount();
  for (; lines > 0; --lines) {
    if (pos.sub + 1 < LineCount(pos.row))
      ++pos.sub;
    else if (pos.row + 1 < rows)
      pos = {pos.row + 1, 0};
    else
      break;
  }
  for (; lines < 0; ++lines) {
    if (pos.sub > 0)
      --pos.sub;
    else if (pos.row > 0)
      pos = {pos.row - 1, LineCount(pos.row - 1) - 1};
    else
      break;
  }
  return pos;
}

// The top that shows the last line at the bottom (rows not read yet count one line).
TTextView::TLinePos TTextView::LastTop() {
  const int64_t rows = RowCount();
  if (rows == 0) return {};
  TLinePos last{rows - 1, LineCount(rows - 1) - 1};
  return Advance(last, -(VisibleLines() - 1));
}

void TTextView::ScrollTo(TLinePos pos, bool followEnd) {
  followEnd_ = followEnd;
  const TLinePos last = LastTop();
  top_ = followEnd ? last : std::min(pos, last);
  SyncScrollBar();
  viewport()->update();
}

void TTextView::ScrollLines(int lines) { ScrollTo(Advance(top_, lines), false); }

void TTextView::SyncScrollBar() {
  syncing_ = true;
  QScrollBar* bar = verticalScrollBar();
  bar->setRange(0, static_cast<int>(std::min<int64_t>(std::max(LastTop().row, top_.row), INT_MAX)));
  bar->setPageStep(VisibleLines());
  bar->setValue(static_cast<int>(std::min<int64_t>(top_.row, INT_MAX)));
  syncing_ = false;
}

void TTextView::AutoScroll() {
  if (!selecting_) return autoScroll_.stop();
  if (dragPoint_.y() < 0)
    ScrollLines(-1);
  else if (dragPoint_.y() >= viewport()->height())
    ScrollLines(1);
  else
    return autoScroll_.stop();
  cursor_ = HitTest(dragPoint_);
}

// --- Painting ----------------------------------------------------------------------------

void TTextView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  painter.fillRect(viewport()->rect(), palette().base());
  painter.setPen(palette().text().color());
  painted_.clear();
  if (!message_.isEmpty()) {
    painter.drawText(viewport()->rect().adjusted(kMargin, kMargin, -kMargin, -kMargin), Qt::TextWordWrap, message_);
    return;
  }
  const auto [from, to] = Selection();
  const bool selected = from < to;
  QTextCharFormat highlight;
  highlight.setBackground(palette().highlight());
  highlight.setForeground(palette().highlightedText());
  const int64_t rows = RowCount();
  int y = kMargin - top_.sub * lineHeight_;
  for (int64_t row = top_.row; row < rows && y < viewport()->height(); ++row) {
    Want(row);
    QTextLayout* layout = LayoutOf(row);
    const int lines = layout ? std::max(1, layout->lineCount()) : 1;
    if (layout) {
      QList<QTextLayout::FormatRange> ranges;
      if (selected && row >= from.row && row <= to.row) {
        const int length = int(layout->text().size());
        const int start = row == from.row ? std::min(from.col, length) : 0;
        const int end = row == to.row ? std::min(to.col, length) : length;
        if (end > start) ranges.append({start, end - start, highlight});
      }
      layout->draw(&painter, QPointF(kMargin, y), ranges);
    }
    painted_.push_back({row, y, lines});
    y += lines * lineHeight_;
  }
  // Layouts far from the screen are laid out again when they come back.
  if (layouts_.size() > 4 * painted_.size() + 64) {
    const int64_t lo = top_.row - 256, hi = top_.row + int64_t(painted_.size()) + 256;
    std::erase_if(layouts_, [&](const auto& entry) { return entry.first < lo || entry.first > hi; });
  }
}

void TTextView::resizeEvent(QResizeEvent* e) {
  QAbstractScrollArea::resizeEvent(e);
  layouts_.clear();
  ScrollTo(top_, followEnd_);
}

void TTextView::changeEvent(QEvent* e) {
  if (e) QAbstractScrollArea::changeEvent(e);
  if (!e || e->type() == QEvent::FontChange) {
    // Japanese glyphs come from a taller fallback font: a line fits both.
    QTextLayout sample(QString::fromUtf8("Ag日本"), font());
    sample.beginLayout();
    QTextLine line = sample.createLine();
    sample.endLayout();
    lineHeight_ = std::max(fontMetrics().lineSpacing(), int(std::ceil(line.height())));
    layouts_.clear();
    viewport()->update();
  }
}

// --- Keys and the wheel ------------------------------------------------------------------

bool TTextView::event(QEvent* e) {
  // Copying and selecting here come before the window's shortcuts for the lists.
  if (e->type() == QEvent::ShortcutOverride) {
    auto* key = static_cast<QKeyEvent*>(e);
    if (key->matches(QKeySequence::Copy) || key->matches(QKeySequence::SelectAll)) {
      e->accept();
      return true;
    }
  }
  return QAbstractScrollArea::event(e);
}

void TTextView::keyPressEvent(QKeyEvent* e) {
  if (e->matches(QKeySequence::Copy)) return Copy();
  if (e->matches(QKeySequence::SelectAll)) return SelectAll();
  const Qt::KeyboardModifiers mods = e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
  const int page = std::max(1, VisibleLines() - 1);
  switch (e->key()) {
    case Qt::Key_Up:
      ScrollLines(-1);
      break;
    case Qt::Key_Down:
      ScrollLines(1);
      break;
    case Qt::Key_PageUp:
      ScrollLines(-page);
      break;
    case Qt::Key_PageDown:
      ScrollLines(page);
      break;
    case Qt::Key_Space:
      ScrollLines(mods & Qt::ShiftModifier ? -page : page);
      break;
    case Qt::Key_Home:
      ScrollTo({}, false);
      break;
    case Qt::Key_End:
      ScrollTo({}, true);
      break;
    default:
      return QAbstractScrollArea::keyPressEvent(e);
  }
  e->accept();
}

void TTextView::wheelEvent(QWheelEvent* e) {
  wheelRest_ += e->angleDelta().y();
  const int steps = wheelRest_ / 120;
  wheelRest_ -= steps * 120;
  if (steps) ScrollLines(-steps * QApplication::wheelScrollLines());
  e->accept();
}

// --- Selection ---------------------------------------------------------------------------

std::pair<TTextPos, TTextPos> TTextView::Selection() const {
  if (allSelected_) return {TTextPos{0, 0}, TTextPos{std::max<int64_t>(RowCount() - 1, 0), INT_MAX}};
  return anchor_ < cursor_ ? std::pair{anchor_, cursor_} : std::pair{cursor_, anchor_};
}

bool TTextView::HasSelection() const {
  const auto [from, to] = Selection();
  return RowCount() > 0 && from < to;
}

void TTextView::SelectAll() {
  allSelected_ = true;
  viewport()->update();
}

void TTextView::RequestCopy(int mode) {
  if (!document_ || !HasSelection()) return;
  const auto [from, to] = Selection();
  document_->RequestCopy(from, to, mode);
}

void TTextView::Copy() { RequestCopy(QClipboard::Clipboard); }

TTextPos TTextView::HitTest(QPoint point) {
  if (painted_.empty()) return {top_.row, 0};
  if (point.y() < painted_.front().y) return {painted_.front().row, 0};
  for (const TPainted& p : painted_) {
    if (point.y() >= p.y + p.lines * lineHeight_) continue;
    QTextLayout* layout = LayoutOf(p.row);
    if (!layout || layout->lineCount() == 0) return {p.row, 0};
    const int index = std::clamp((point.y() - p.y) / lineHeight_, 0, layout->lineCount() - 1);
    return {p.row, layout->lineAt(index).xToCursor(point.x() - kMargin)};
  }
  return {painted_.back().row, INT_MAX};
}

void TTextView::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(e);
  const TTextPos pos = HitTest(e->position().toPoint());
  if (allSelected_ && (e->modifiers() & Qt::ShiftModifier)) anchor_ = Selection().first;
  allSelected_ = false;
  if (!(e->modifiers() & Qt::ShiftModifier)) anchor_ = pos;
  cursor_ = pos;
  selecting_ = true;
  viewport()->update();
}

void TTextView::mouseMoveEvent(QMouseEvent* e) {
  if (!selecting_) return;
  dragPoint_ = e->position().toPoint();
  cursor_ = HitTest(dragPoint_);
  if ((dragPoint_.y() < 0 || dragPoint_.y() >= viewport()->height()) && !autoScroll_.isActive()) autoScroll_.start();
  viewport()->update();
}

void TTextView::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || !selecting_) return QAbstractScrollArea::mouseReleaseEvent(e);
  selecting_ = false;
  autoScroll_.stop();
  // The desktop's primary selection, as text edits keep it.
  if (QApplication::clipboard()->supportsSelection()) RequestCopy(QClipboard::Selection);
}

void TTextView::mouseDoubleClickEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  const TTextPos pos = HitTest(e->position().toPoint());
  const TTextRow* row = RowAt(pos.row);
  if (!row) return;
  const int col = std::min<int>(pos.col, int(row->text.size()));
  QTextBoundaryFinder words(QTextBoundaryFinder::Word, row->text);
  words.setPosition(col);
  qsizetype end = words.toNextBoundary();
  words.setPosition(col);
  qsizetype start = words.isAtBoundary() ? col : words.toPreviousBoundary();
  if (end < 0) end = row->text.size();
  allSelected_ = false;
  anchor_ = {pos.row, int(std::max<qsizetype>(start, 0))};
  cursor_ = {pos.row, int(end)};
  viewport()->update();
  if (QApplication::clipboard()->supportsSelection()) RequestCopy(QClipboard::Selection);
}

// --- The context menu --------------------------------------------------------------------

QMenu* TTextView::CreateContextMenu() {
  auto* menu = new QMenu(this);
  QAction* copy = menu->addAction("コピー(&C)", this, &TTextView::Copy);
  copy->setShortcut(QKeySequence::Copy);
  copy->setEnabled(HasSelection());
  QAction* all = menu->addAction("すべて選択(&A)", this, &TTextView::SelectAll);
  all->setShortcut(QKeySequence::SelectAll);
  all->setEnabled(RowCount() > 0);
  menu->addSeparator();
  QMenu* encodings = menu->addMenu("文字コード(&E)");
  encodings->setEnabled(document_ != nullptr);
  const std::optional<TTextEncoding> shown = Encoding();
  QAction* automatic = encodings->addAction("自動判別(&A)", this, [this] { SetEncoding(std::nullopt); });
  automatic->setCheckable(true);
  automatic->setChecked(document_ && !document_->Forced());
  encodings->addSeparator();
  for (TTextEncoding encoding : kAllTextEncodings) {
    QAction* action = encodings->addAction(EncodingLabel(encoding), this, [this, encoding] { SetEncoding(encoding); });
    action->setCheckable(true);
    action->setChecked(shown == encoding);
  }
  return menu;
}

void TTextView::contextMenuEvent(QContextMenuEvent* e) {
  std::unique_ptr<QMenu> menu(CreateContextMenu());
  menu->exec(e->globalPos());
}
