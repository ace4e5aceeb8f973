// The last step of both transports (the download engine and the batch): a
// fetched file is checked beside its target and only then renamed over it,
// so the target stays as it was on every failure.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

// Why a fetched file of `size` bytes must not replace its target, or empty
// when it may: its size differs from `expectedSize` (when that is not
// negative), or its MD5 from `expectedMd5` (when one is given; any letter
// case, and an empty file agrees with either spelling of the empty digest).
// `digestOf` is asked only when a digest is expected; an empty answer means
// the check was stopped. `name` leads the reason.
std::string FetchedFileFault(const std::string& name, int64_t size, int64_t expectedSize,
                             const std::string& expectedMd5, const std::function<std::string()>& digestOf);

// Renames `from` over `to` (never deleting `to` first), trying again up to
// `retries` times `retryMs` apart while the target is held by another
// program; `stopped` ends the tries early. False when it could not.
bool RenameWithRetries(const std::string& from, const std::string& to, uint32_t retries, uint32_t retryMs,
                       const std::function<bool()>& stopped = nullptr);
