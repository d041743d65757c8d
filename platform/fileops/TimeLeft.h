#pragma once
// The time left of a job from its rate so far, by bytes where it knows
// them, else by items.
#include "platform/fileops/FileOperation.h"

inline void EstimateSecondsLeft(FileOperationProgress& p) {
  // The rate needs a little history before it means anything.
  if (p.secondsElapsed < 1.0) return;
  if (p.bytesDone > 0 && p.bytesTotal >= p.bytesDone)
    p.secondsLeft = p.secondsElapsed * double(p.bytesTotal - p.bytesDone) / double(p.bytesDone);
  else if (p.itemsDone > 0 && p.itemsTotal >= p.itemsDone)
    p.secondsLeft = p.secondsElapsed * double(p.itemsTotal - p.itemsDone) / double(p.itemsDone);
}
