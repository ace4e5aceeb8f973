// `launcher-pack inspect`: prints the package of a launcher executable and
// checks it the way the launcher does, and a little more.
#pragma once
#include <ostream>
#include <string>

// Prints the trailer, the configuration fields, the skin images with their
// pixel sizes and the position entries with their labels (texts in UTF-8).
// Returns false when the magic is wrong, a block lies outside the file or
// fails its digest, or a block's content is not what the launcher reads
// (too few configuration fields, a broken skin record or a record that is
// not a PNG, a short positions block).
bool InspectPackage(const std::string& path, std::ostream& out);
