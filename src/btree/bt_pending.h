// What the next flush carries besides the changed nodes themselves.
//
// The key operations change nodes in memory only; nothing reaches the file
// before the flush (bt_flush.cc), which writes the changes in an order that
// never leaves an entry without a copy on file.  What it needs beyond the
// nodes: the slots of nodes the deletion released, whose free headers must
// wait until the nodes that took their entries are written, and the
// control record as the file holds it.
#pragma once

#include <cstdint>
#include <vector>

#include "btree/format.h"

struct PendingRelease {
  int32_t subscript;
  int64_t pos;                                      // the slot that becomes free
  uint8_t header[jbbformat::kRecordHeaderSize];    // its free-slot header
};

struct PendingWrites {
  std::vector<PendingRelease> releases;
  // The control record as the file holds it (last read or written): the
  // root it names, and the index-array size the file's subscripts may use.
  uint8_t fileCtrl[jbbformat::kCtrlRecSize] = {};
  bool fileCtrlKnown = false;
  // The tree was re-initialised (the last entry deleted): the flush ends by
  // cutting the file after the new empty tree.
  bool reinitialise = false;
  // Nodes were written without the control record (RealWrite of one node):
  // the next flush writes it even when no node changed since.
  bool controlRecord = false;

  void clear() {
    releases.clear();
    reinitialise = false;
    controlRecord = false;
  }
};
