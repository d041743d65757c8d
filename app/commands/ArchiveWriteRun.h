#pragma once
// Running an archive write off the window's thread, with the worker's progress
// window (counting entries against total) whose cancel stops the library at
// the next entry.
#include <QString>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/ArchiveUpdate.h"

class TForm1;
class TShellListView;

// The names of the selected items that lie in the list's folder (items of a
// virtual folder have none there).
std::vector<std::string> SelectedNamesInFolder(TShellListView* list);

ArchiveWriteResult RunArchiveWrite(TForm1& form, const QString& label, uint64_t total,
                                   const std::function<ArchiveWriteResult(const ArchiveWriteProgress&)>& write);
