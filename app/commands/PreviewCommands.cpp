// V and VV: the focused picture or text file shown in place of the other
// pane's list, in the current preview tab or in a new one.
#include "app/MainForm.h"
#include "app/commands/Commands.h"

void VExecute(TForm1& form) {
  TPane* source = form.CurrentPane();
  if (!source) return;
  const std::string path = FocusedPreviewFile(form, source->List);
  if (path.empty()) return;
  const std::string ext = TForm1::PreviewExtension(path);
  if (form.IsImageFile(ext)) {
    form.ShowPreview(form.OtherPane(*source), path, true, std::move(form.Preview.PictureLineAdded));
    form.Preview.PictureLineAdded = nullptr;
  } else if (form.IsTextFile(ext)) {
    form.ShowPreview(form.OtherPane(*source), path, false);
  }
}

void VVExecute(TForm1& form) {
  TShellListView* source = form.CurrentList();
  if (!source) return;
  const std::string path = FocusedPreviewFile(form, source);
  const std::string ext = TForm1::PreviewExtension(path);
  if (path.empty() || ext.empty()) return;
  TLineList* lines = nullptr;
  int* index = nullptr;
  if (form.IsImageFile(ext)) {
    lines = &form.ImagePath;
    index = &form.ImageTabIndex;
  } else if (form.IsTextFile(ext)) {
    lines = &form.TextPath;
    index = &form.TextTabIndex;
  } else {
    return;
  }
  // A list never used keeps its "defo" line for the first preview.
  const bool added = lines->Count() == 0 || (*lines)[0] != "defo";
  const int previous = *index;
  if (added) *index = lines->Add("Path");
  // A file that could not be shown leaves no tab behind.
  auto dropLine = [lines, index, added, previous] {
    if (added && *index == lines->Count() - 1 && (*lines)[*index] == "Path") {
      lines->Delete(*index);
      *index = previous;
    }
  };
  // A picture is known to fail only when its decode answers.
  if (lines == &form.ImagePath) form.Preview.PictureLineAdded = dropLine;
  try {
    VExecute(form);
  } catch (...) {
    form.Preview.PictureLineAdded = nullptr;
    dropLine();
    throw;
  }
  form.Preview.PictureLineAdded = nullptr;
}
