// Frames of the directory exchange: an 8-byte little-endian header (magic
// 0x55AA, message id, flags, payload length) and the payload. The reply's
// payload is the server list document, zlib-compressed when flags is not 0.
// Datagrams may carry several frames and a frame may span datagrams, so the
// receiver collects datagrams in a fixed buffer and cuts frames out of it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

constexpr uint16_t DirectoryMagic = 0x55AA;
constexpr uint16_t GetServerList = 1;
constexpr uint16_t ServerListReply = 0x81;
constexpr size_t DirectoryHeaderSize = 8;
constexpr size_t DirectoryRequestSize = 16;
constexpr size_t MaxDirectoryPayload = 65535;
constexpr size_t DirectoryBufferSize = 1048576;
// Largest datagram either side sends or reads.
constexpr size_t MaxDirectoryDatagram = 16384;
// Largest document a compressed payload may inflate to.
constexpr size_t MaxInflatedDocument = 8 * 1024 * 1024;
constexpr uint16_t DirectoryPort = 30000;

struct TDirectoryFrame {
  uint16_t messageId = 0;
  uint16_t flags = 0;
  std::string payload;
};

// A whole frame; `payload` must not exceed MaxDirectoryPayload.
std::vector<uint8_t> BuildDirectoryFrame(uint16_t messageId, uint16_t flags, const std::string& payload);
// The 16-byte request: game id and the value 1 as payload.
std::vector<uint8_t> BuildServerListRequest(uint32_t gameId, uint16_t messageId);
// The game id of a request frame's payload; false when it is shorter than 8 bytes.
bool ReadRequestGameId(const TDirectoryFrame& frame, uint32_t& gameId);

// Cuts every complete frame out of `data`, from its first byte: bytes that do
// not start a frame are skipped one at a time; an incomplete frame at the end
// stops the scan. Returns the position where the scan stopped.
size_t ScanDirectoryFrames(const uint8_t* data, size_t size, const std::function<void(const TDirectoryFrame&)>& onFrame);

// Splits a frame into datagrams of at most `maxDatagram` bytes.
std::vector<std::vector<uint8_t>> SplitIntoDatagrams(const std::vector<uint8_t>& frame, size_t maxDatagram);

// zlib stream (or gzip, detected) to text. False when the stream is broken,
// incomplete or inflates to more than `maxSize` bytes.
bool InflateDirectoryPayload(const std::string& payload, size_t maxSize, std::string& document);
// The zlib stream of `text`.
std::string DeflateDirectoryPayload(const std::string& text);

// The receiver's buffer of DirectoryBufferSize bytes. Whatever arrives once
// it is full is dropped.
class TDirectoryBuffer {
public:
  TDirectoryBuffer();
  // Zeroes the buffer and empties it.
  void Reset();
  // Appends what fits; returns the number of bytes taken.
  size_t Append(const uint8_t* data, size_t length);
  // Scans the whole buffer from its first byte (see ScanDirectoryFrames).
  void Scan(const std::function<void(const TDirectoryFrame&)>& onFrame) const;
  int32_t Total() const { return static_cast<int32_t>(FTotal); }
  const uint8_t* Data() const { return FData.get(); }

private:
  std::unique_ptr<uint8_t[]> FData;
  size_t FTotal = 0;
};
