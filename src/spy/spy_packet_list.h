#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "spy/spy_batch.h"

namespace quorvel {

// Scroll width of the list: 9 pixels per data byte of its longest line.
inline constexpr int kSpyPixelsPerByte = 9;

// The window's packet lines with the 26-line rule, the frozen state and the
// horizontal extent. Window thread only.
class SpyPacketList {
 public:
  // One packet: while not frozen a full list is emptied first; the line is
  // added while the list holds at most 25 lines.
  void Add(std::string line);
  // The packets of a batch, with the same result as adding them one by one.
  // Returns whether the list changed.
  bool Apply(SpyBatch& batch);
  // Clear button and menu: empties the list; the frozen state stays.
  void Clear();

  void SetFrozen(bool frozen) { frozen_ = frozen; }
  bool Frozen() const { return frozen_; }
  const std::vector<std::string>& Lines() const { return lines_; }
  int HorizontalExtent() const { return extent_; }
  // Counts the times the list was emptied, so that a remembered line index
  // names the same line only while the epoch is unchanged.
  std::uint64_t Epoch() const { return epoch_; }
  // "Copy All packets".
  std::string CopyAllText() const;

 private:
  void Empty();

  std::vector<std::string> lines_;
  int extent_ = 0;
  bool frozen_ = false;
  std::uint64_t epoch_ = 0;
};

}  // namespace quorvel
