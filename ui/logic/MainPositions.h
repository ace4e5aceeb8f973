// Applying the positions block to the window's controls: the 20 records of
// package/SkinLayout.h read in block order from 8 bytes after the block's
// start, each entry a signed 16-bit value.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "skin/logic/SkinGeometry.h"

// Reads the entry at `cursor` under its log label and advances the cursor by
// 2; nothing when the entry lies outside the block (the package reader).
using TPosEntryReader = std::function<std::optional<int>(const std::string& label, int32_t& cursor)>;

// The first 8 bytes of the block (background placement) are not read.
constexpr int32_t PositionsHeaderBytes = 8;

// Applies every record to the bounds of its control in `bounds` (keyed by
// control name, "wb" for the news browser). A record whose size is skipped
// moves the cursor by 4 without reading; an entry that reads nothing keeps
// the value already in `bounds`; a control missing from `bounds` is read past
// but placed nowhere. Returns the cursor after the last record.
int32_t ApplyPositionRecords(int32_t posoffset, const TPosEntryReader& read, std::map<std::string, TRectI>& bounds);
