#pragma once
// The properties of one or more items: name, type, location, size, dates,
// owner and permissions. The size of folders (and of several items) is
// totalled on a worker thread; the dialog reads its running counters on a
// timer, so the worker never touches a widget, and closing the dialog stops
// the worker and waits for it.
//
//   object names: propertiesDialog; value labels nameValue, typeValue,
//   locationValue, linkTargetValue, sizeValue, contentsValue, createdValue,
//   modifiedValue, accessedValue, ownerValue, groupValue, permissionsValue;
//   closeButton
#include <QDialog>
#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class QFormLayout;
class QLabel;
class QTimer;

struct PropertyItem {
  std::string name;         // display name (UTF-8)
  std::string path;         // file-system path; empty for a virtual item
  std::string typeName;     // UTF-8
  std::string contentPath;  // for a virtual item whose content lies on disk: what to total
  int iconIndex = -1;       // in the system image list
};

// Totals of a walk; each counter is written by the worker only.
struct SizeTotals {
  std::atomic<uint64_t> bytes{0};
  std::atomic<uint64_t> files{0};
  std::atomic<uint64_t> folders{0};
  std::atomic<bool> done{false};
  std::atomic<bool> cancel{false};
};

// Adds up the sizes below the roots without following links (a link counts
// with its own size; a file with several hard links once). Checks cancel
// between entries. A root that is a folder counts itself as no folder.
void TotalSizes(const std::vector<std::string>& roots, SizeTotals& totals);

// "rwxr-xr-x" with s/S/t/T for the special bits, and "0755".
QString PermissionText(uint32_t mode);
QString OctalModeText(uint32_t mode);

class PropertiesDialog : public QDialog {
  Q_OBJECT
 public:
  PropertiesDialog(QWidget* parent, std::vector<PropertyItem> items);
  ~PropertiesDialog() override;

  // The size is still being totalled.
  bool Computing() const { return worker_.joinable() && !totals_->done; }
  // The value label of a row by object name; null when the row is not shown.
  QLabel* Value(const char* objectName) const;

 private:
  void AddRow(const QString& caption, const char* objectName, const QString& value);
  void FillSingle(const PropertyItem& item);
  void FillSeveral();
  void StartTotal(std::vector<std::string> roots);
  void ShowTotals();

  std::vector<PropertyItem> items_;
  QFormLayout* form_ = nullptr;
  QTimer* timer_ = nullptr;
  std::unique_ptr<SizeTotals> totals_;
  std::thread worker_;
};
