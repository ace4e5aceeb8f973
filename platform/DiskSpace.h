// Free space of the volume that holds a folder, for the update run's check
// before it writes anything.
#pragma once
#include <cstdint>
#include <string>

// Bytes the current user may still write on the volume of `folder`, or -1
// when the system cannot tell.
int64_t FreeDiskSpace(const std::string& folder);
