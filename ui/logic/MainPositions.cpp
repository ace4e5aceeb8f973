#include "ui/logic/MainPositions.h"

#include "package/SkinLayout.h"

namespace {

int* Field(TRectI& rect, int index) {
  switch (index) {
    case 0: return &rect.X;
    case 1: return &rect.Y;
    case 2: return &rect.Width;
    default: return &rect.Height;
  }
}

}  // namespace

int32_t ApplyPositionRecords(int32_t posoffset, const TPosEntryReader& read, std::map<std::string, TRectI>& bounds) {
  // Unsigned arithmetic: a damaged offset must not overflow a signed value;
  // the reader rejects any cursor outside the block.
  int32_t cursor = static_cast<int32_t>(static_cast<uint32_t>(posoffset) + PositionsHeaderBytes);
  TRectI ignored;
  for (const TPositionRecord& record : PositionRecords()) {
    auto found = bounds.find(record.control);
    TRectI& rect = found != bounds.end() ? found->second : ignored;
    const int entries = record.sizeSkipped ? 2 : 4;
    for (int i = 0; i < entries; ++i) {
      if (std::optional<int> value = read(record.labels[i], cursor)) *Field(rect, i) = *value;
    }
    if (record.sizeSkipped) cursor = static_cast<int32_t>(static_cast<uint32_t>(cursor) + 4u);
  }
  return cursor;
}
