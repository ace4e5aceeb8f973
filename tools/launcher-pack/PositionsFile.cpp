#include "tools/launcher-pack/PositionsFile.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "package/PackageFormat.h"
#include "package/SkinLayout.h"
#include "tools/launcher-pack/ToolFiles.h"

using json = nlohmann::json;

namespace {

constexpr int64_t EntryMin = INT16_MIN;
constexpr int64_t EntryMax = INT16_MAX;

bool InRange(int64_t value) { return value >= EntryMin && value <= EntryMax; }

std::string RangeText() { return std::to_string(EntryMin) + ".." + std::to_string(EntryMax); }

// Checks one value of a control and appends it to the entries.
bool AppendValue(const json& control, const TPositionRecord& record, const std::string& field,
                 std::vector<int16_t>& entries, std::string& error) {
  const std::string name = record.control + "." + field;
  const auto it = control.find(field);
  if (it == control.end()) {
    const bool optional = record.sizeSkipped && (field == "width" || field == "height");
    if (optional) {
      entries.push_back(0);
      return true;
    }
    error = name + " is missing";
    return false;
  }
  if (!it->is_number_integer()) {
    error = name + " is not an integer";
    return false;
  }
  const bool isUnsigned = it->is_number_unsigned();
  const int64_t value = isUnsigned ? static_cast<int64_t>(std::min<uint64_t>(it->get<uint64_t>(), INT64_MAX))
                                   : it->get<int64_t>();
  if (!InRange(value)) {
    error = name + " = " + it->dump() + " is outside " + RangeText();
    return false;
  }
  entries.push_back(static_cast<int16_t>(value));
  return true;
}

bool AppendRecord(const json& document, const TPositionRecord& record, std::vector<int16_t>& entries,
                  std::string& error) {
  const auto it = document.find(record.control);
  if (it == document.end()) {
    error = "control \"" + record.control + "\" is missing";
    return false;
  }
  if (!it->is_object()) {
    error = "control \"" + record.control + "\" is not an object of left, top, width and height";
    return false;
  }
  for (const auto& [key, value] : it->items()) {
    const auto& fields = PositionFieldNames();
    if (std::find(fields.begin(), fields.end(), key) == fields.end()) {
      error = "control \"" + record.control + "\" has an unknown value \"" + key + "\"";
      return false;
    }
  }
  for (const std::string& field : PositionFieldNames())
    if (!AppendValue(*it, record, field, entries, error)) return false;
  return true;
}

bool IsKnownControl(const std::string& name) {
  for (const TPositionRecord& record : PositionRecords())
    if (record.control == name) return true;
  return false;
}

}  // namespace

const std::vector<std::string>& PositionFieldNames() {
  static const std::vector<std::string> names = {"left", "top", "width", "height"};
  return names;
}

bool ParsePositions(const std::string& text, const TPngSize& background, std::vector<int16_t>& entries,
                    std::string& error) {
  entries.clear();
  if (text.size() > MaxPositionsFileSize) {
    error = "the document is larger than " + std::to_string(MaxPositionsFileSize) + " bytes";
    return false;
  }
  const json document = json::parse(text, nullptr, false);
  if (document.is_discarded() || !document.is_object()) {
    error = "not a JSON object of controls";
    return false;
  }
  for (const auto& [key, value] : document.items()) {
    if (!IsKnownControl(key)) {
      error = "unknown control \"" + key + "\"";
      return false;
    }
  }
  if (!InRange(background.width) || !InRange(background.height)) {
    error = "the background's size " + std::to_string(background.width) + " x " +
            std::to_string(background.height) + " is outside " + RangeText();
    return false;
  }
  entries = {0, 0, static_cast<int16_t>(background.width), static_cast<int16_t>(background.height)};
  for (const TPositionRecord& record : PositionRecords())
    if (!AppendRecord(document, record, entries, error)) return false;
  if (entries.size() != static_cast<size_t>(PositionEntryCount)) {
    error = std::to_string(entries.size()) + " entries instead of " +
            std::to_string(PositionEntryCount);
    return false;
  }
  return true;
}

bool ReadPositionsFile(const std::string& path, const TPngSize& background, std::vector<int16_t>& entries,
                       std::string& error) {
  std::string text;
  if (!ReadFileLimited(path, MaxPositionsFileSize, text, error)) return false;
  if (!ParsePositions(text, background, entries, error)) {
    error = ShownPath(path) + ": " + error;
    return false;
  }
  return true;
}
