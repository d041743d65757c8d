#pragma once
// The process's limit of open descriptors.

// Raises the soft limit to the hard one (two calls when it is there), so
// that walking a deep tree, which keeps a few folders open per level, is
// bounded by the file system rather than by the usual 1,024.
void RaiseDescriptorLimit();
