// The fixed layout of the skin and positions blocks: which image is stored
// where, and which control each position entry places. The main window reads
// the blocks in exactly this order; the package tool writes them in it.
#pragma once
#include <array>
#include <string>
#include <vector>

// The 33 stored images, in block order (the first is the window background).
const std::vector<std::string>& SkinImageNames();

// One record of the positions block: four entries after the 8-byte header.
struct TPositionRecord {
  std::string control;              // the control the entries place
  std::array<std::string, 4> labels;  // log labels of left, top, width, height
  bool sizeSkipped;                 // width and height are stored but not applied
};

// The 20 records in block order. Entries 0..3 of the block (background
// placement and size) come before them.
const std::vector<TPositionRecord>& PositionRecords();
