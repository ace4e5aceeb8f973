// directory-service: the directory service for launchers. Answers
// GetServerList frames on a UDP port with the server list document of the
// requested game from a servers file, which it reloads when it changes.
//
//   directory-service --servers FILE.json [--port 30000] [--bind ADDRESS]
//                     [--rate N] [--burst N] [--compress-above BYTES] [--quiet]
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "platform/Socket.h"
#include "platform/Tick.h"
#include "servers/DirectoryFrame.h"
#include "servers/DirectoryService.h"

namespace {

struct TArguments {
  std::string servers;
  std::string bind = "0.0.0.0";
  uint16_t port = DirectoryPort;
  TDirectoryServiceOptions options;
  bool quiet = false;
};

void Usage() {
  std::cerr << "usage: directory-service --servers FILE.json [--port 30000] [--bind ADDRESS]\n"
               "                         [--rate N] [--burst N] [--compress-above BYTES] [--quiet]\n"
               "  FILE.json maps game ids in decimal to server list documents, e.g. {\"12\": {\"server\": []}}.\n"
               "  --rate N: requests answered per second and source address (0: no limit, default 20).\n";
}

bool ParseNumber(const std::string& text, unsigned long limit, unsigned long& value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 10) return false;
  value = std::strtoul(text.c_str(), nullptr, 10);
  return value <= limit;
}

bool ParseArguments(int argc, char** argv, TArguments& args) {
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--quiet") {
      args.quiet = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    const std::string value = argv[++i];
    unsigned long number = 0;
    if (name == "--servers") {
      args.servers = value;
    } else if (name == "--bind") {
      uint32_t address = 0;
      if (!ParseIPv4(value, address)) return false;
      args.bind = value;
    } else if (name == "--port" && ParseNumber(value, 65535, number)) {
      args.port = static_cast<uint16_t>(number);
    } else if (name == "--rate" && ParseNumber(value, 1000000, number)) {
      args.options.ratePerSecond = static_cast<uint32_t>(number);
    } else if (name == "--burst" && ParseNumber(value, 1000000, number) && number > 0) {
      args.options.burst = static_cast<uint32_t>(number);
    } else if (name == "--compress-above" && ParseNumber(value, 0xFFFFFFFFul, number)) {
      args.options.compressAbove = number;
    } else {
      return false;
    }
  }
  return !args.servers.empty();
}

int Serve(const TArguments& args) {
  TDirectoryService service(args.options);
  std::string error;
  if (!service.LoadFile(args.servers, error)) {
    std::cerr << "directory-service: " << error << "\n";
    return 1;
  }
  const TSocketHandle socket = SocketCreateUdp();
  TSocketAddress local{0, args.port};
  ParseIPv4(args.bind, local.Address);
  if (socket == InvalidSocket || SocketBind(socket, local) != 0) {
    std::cerr << "directory-service: cannot bind " << SocketAddressText(local) << ": "
              << SocketErrorMessage(SocketLastError()) << "\n";
    return 1;
  }
  SocketSetReceiveBufferSize(socket, 1 << 20);
  std::cout << "directory-service listening on " << SocketAddressText(local) << " (" << service.GameCount()
            << " games)" << std::endl;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[65536]);
  uint32_t lastCheck = GetTickCount32();
  for (;;) {
    if (SocketWaitReadable(socket, 500) == 1) {
      TSocketAddress from;
      const int length = SocketRecvFrom(socket, buffer.get(), 65536, &from);
      if (length > 0) {
        for (const auto* datagram : service.Answer(buffer.get(), static_cast<size_t>(length), from.Address, GetTickCount32()))
          SocketSendTo(socket, datagram->data(), static_cast<int>(datagram->size()), from);
      }
    }
    if (GetTickCount32() - lastCheck >= 1000) {
      lastCheck = GetTickCount32();
      bool reloaded = false;
      if (!service.ReloadIfChanged(args.servers, error, reloaded)) {
        std::cerr << "directory-service: reload failed, keeping the previous documents: " << error << std::endl;
      } else if (reloaded && !args.quiet) {
        std::cout << "directory-service reloaded " << args.servers << " (" << service.GameCount() << " games)"
                  << std::endl;
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  TArguments args;
  if (!ParseArguments(argc, argv, args)) {
    Usage();
    return 2;
  }
  return Serve(args);
}
