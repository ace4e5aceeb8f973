// The positions file of the package tool: a JSON object that names, for each
// control of the main window, its left, top, width and height, e.g.
//   {"LGStart": {"left": 698, "top": 430, "width": 266, "height": 86}, ...}
// The control names are those of PositionRecords(). The tool turns it into
// the 84 entries of the positions block.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/launcher-pack/PngSize.h"

constexpr size_t MaxPositionsFileSize = 1 << 20;

// The four values of a control, in block order.
const std::vector<std::string>& PositionFieldNames();

// Builds the block entries from the document's text. Entries 0..3 are 0, 0
// and the background's width and height. Every control must be present with
// integer values in the signed 16-bit range; width and height may be left
// out only for the controls whose size the launcher does not apply (they are
// stored as 0 then). On failure returns false and an error naming the
// control and value.
bool ParsePositions(const std::string& text, const TPngSize& background, std::vector<int16_t>& entries,
                    std::string& error);
bool ReadPositionsFile(const std::string& path, const TPngSize& background, std::vector<int16_t>& entries,
                       std::string& error);
