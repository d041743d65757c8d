#pragma once
// One drive event on its way from the mount monitor to a tree's directory
// watcher and back to the tree on the GUI thread.
#include <cstdint>
#include <string>

#include "platform/namespace/IDList.h"

constexpr uint32_t DBT_DEVICEARRIVAL = 0x8000;
constexpr uint32_t DBT_DEVICEREMOVECOMPLETE = 0x8004;

struct TDeviceChangeData {
  std::string DriveName;
  uint32_t Event = 0;
  int Kind = 0;      // 1 local volume, 2 network file system
  IDListPtr IDList;  // the drive root's absolute list; may be null

  TDeviceChangeData() = default;
  TDeviceChangeData(std::string name, uint32_t event, int kind, PItemIDList list)
      : DriveName(std::move(name)), Event(event), Kind(kind), IDList(list) {}
};
