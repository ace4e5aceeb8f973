#include "servers/DirectoryFrame.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace {

uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void WriteLe16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}

void WriteLe32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

std::vector<uint8_t> BuildDirectoryFrame(uint16_t messageId, uint16_t flags, const std::string& payload) {
  const size_t length = std::min(payload.size(), MaxDirectoryPayload);
  std::vector<uint8_t> frame(DirectoryHeaderSize + length, 0);
  WriteLe16(&frame[0], DirectoryMagic);
  WriteLe16(&frame[2], messageId);
  WriteLe16(&frame[4], flags);
  WriteLe16(&frame[6], static_cast<uint16_t>(length));
  if (length > 0) std::memcpy(&frame[DirectoryHeaderSize], payload.data(), length);
  return frame;
}

std::vector<uint8_t> BuildServerListRequest(uint32_t gameId, uint16_t messageId) {
  std::vector<uint8_t> frame(DirectoryRequestSize, 0);
  WriteLe16(&frame[0], DirectoryMagic);
  WriteLe16(&frame[2], messageId);
  WriteLe16(&frame[6], 8);
  WriteLe32(&frame[8], gameId);
  WriteLe32(&frame[12], 1);
  return frame;
}

bool ReadRequestGameId(const TDirectoryFrame& frame, uint32_t& gameId) {
  if (frame.payload.size() < 8) return false;
  const auto* p = reinterpret_cast<const uint8_t*>(frame.payload.data());
  gameId = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
  return true;
}

size_t ScanDirectoryFrames(const uint8_t* data, size_t size, const std::function<void(const TDirectoryFrame&)>& onFrame) {
  size_t position = 0;
  while (size - position >= DirectoryHeaderSize) {
    const uint8_t* header = data + position;
    if (ReadLe16(header) != DirectoryMagic) {
      ++position;
      continue;
    }
    const size_t frameSize = DirectoryHeaderSize + ReadLe16(header + 6);
    if (frameSize > size - position) break;
    TDirectoryFrame frame;
    frame.messageId = ReadLe16(header + 2);
    frame.flags = ReadLe16(header + 4);
    frame.payload.assign(reinterpret_cast<const char*>(header + DirectoryHeaderSize), frameSize - DirectoryHeaderSize);
    position += frameSize;
    onFrame(frame);
  }
  return position;
}

std::vector<std::vector<uint8_t>> SplitIntoDatagrams(const std::vector<uint8_t>& frame, size_t maxDatagram) {
  std::vector<std::vector<uint8_t>> datagrams;
  for (size_t at = 0; at < frame.size(); at += maxDatagram) {
    const size_t piece = std::min(maxDatagram, frame.size() - at);
    datagrams.emplace_back(frame.begin() + static_cast<ptrdiff_t>(at), frame.begin() + static_cast<ptrdiff_t>(at + piece));
  }
  return datagrams;
}

bool InflateDirectoryPayload(const std::string& payload, size_t maxSize, std::string& document) {
  document.clear();
  z_stream stream{};
  if (inflateInit2(&stream, 47) != Z_OK) return false;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(payload.data()));
  stream.avail_in = static_cast<uInt>(payload.size());
  char chunk[16384];
  int result = Z_OK;
  while (result == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(chunk);
    stream.avail_out = sizeof(chunk);
    result = inflate(&stream, Z_NO_FLUSH);
    const size_t produced = sizeof(chunk) - stream.avail_out;
    if (document.size() + produced > maxSize) {
      result = Z_MEM_ERROR;
      break;
    }
    document.append(chunk, produced);
    // No progress with input left means the stream cannot go on.
    if (result == Z_BUF_ERROR || (result == Z_OK && produced == 0 && stream.avail_in == 0)) break;
  }
  inflateEnd(&stream);
  if (result != Z_STREAM_END) document.clear();
  return result == Z_STREAM_END;
}

std::string DeflateDirectoryPayload(const std::string& text) {
  uLongf size = compressBound(static_cast<uLong>(text.size()));
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(text.data()),
                static_cast<uLong>(text.size()), Z_BEST_COMPRESSION) != Z_OK)
    return std::string();
  out.resize(size);
  return out;
}

TDirectoryBuffer::TDirectoryBuffer() : FData(new uint8_t[DirectoryBufferSize]()) {}

void TDirectoryBuffer::Reset() {
  std::memset(FData.get(), 0, DirectoryBufferSize);
  FTotal = 0;
}

size_t TDirectoryBuffer::Append(const uint8_t* data, size_t length) {
  const size_t taken = std::min(length, DirectoryBufferSize - FTotal);
  if (taken > 0) std::memcpy(FData.get() + FTotal, data, taken);
  FTotal += taken;
  return taken;
}

void TDirectoryBuffer::Scan(const std::function<void(const TDirectoryFrame&)>& onFrame) const {
  ScanDirectoryFrames(FData.get(), FTotal, onFrame);
}
