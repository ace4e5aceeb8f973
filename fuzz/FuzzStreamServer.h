// A TCP server on 127.0.0.1 (a port of the system's choosing) that answers
// every connection with the same bytes, the current "stream", and then
// closes its sending side. What the client sends is read and dropped until
// the client closes, so that no unread request turns the close into a
// reset that would cost the client bytes it has not read yet. One thread
// serves every connection without blocking, so a client that opens a second
// connection before dropping the first is served as well.
#pragma once
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TFuzzStreamServer {
public:
  TFuzzStreamServer() {
    FListener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (FListener < 0 || bind(FListener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(FListener, 64) != 0 || getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      std::abort();
    FPort = ntohs(address.sin_port);
    // Serves until the process ends.
    std::thread([this] { Serve(); }).detach();
  }

  int Port() const { return FPort; }

  // The bytes that connections accepted from now on receive.
  void SetStream(const uint8_t* data, size_t size) {
    std::lock_guard<std::mutex> guard(FLock);
    FStream.assign(reinterpret_cast<const char*>(data), size);
  }

  // Waits until every connection has been closed by its client; false
  // after `timeoutMs`. A run that ends with this leaves nothing behind for
  // the next one (and no allocation of its own still held).
  bool WaitAllClosed(int timeoutMs) {
    std::unique_lock<std::mutex> lock(FLock);
    return FClosed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return FOpen == 0; });
  }

private:
  struct TConnection {
    int Fd;
    std::string Out;
    size_t Sent;
    bool Shut;
  };

  // A new connection, to be written to at once; false when none came.
  bool Accept(TConnection& c) {
    c.Fd = accept(FListener, nullptr, nullptr);
    if (c.Fd < 0) return false;
    fcntl(c.Fd, F_SETFL, fcntl(c.Fd, F_GETFL) | O_NONBLOCK);
    std::lock_guard<std::mutex> guard(FLock);
    c.Out = FStream;
    ++FOpen;
    return true;
  }

  void Close(TConnection& c) {
    close(c.Fd);
    c.Out = std::string();
    std::lock_guard<std::mutex> guard(FLock);
    if (--FOpen == 0) FClosed.notify_all();
  }

  // False when the connection is finished with.
  static bool Pump(TConnection& c, short events) {
    if (events & (POLLIN | POLLHUP | POLLERR)) {
      char discard[4096];
      const ssize_t got = recv(c.Fd, discard, sizeof discard, 0);
      if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) return false;
    }
    while (c.Sent < c.Out.size()) {
      const ssize_t put = send(c.Fd, c.Out.data() + c.Sent, c.Out.size() - c.Sent, MSG_NOSIGNAL);
      if (put < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
      c.Sent += static_cast<size_t>(put);
    }
    if (!c.Shut) {
      shutdown(c.Fd, SHUT_WR);
      c.Shut = true;
    }
    return true;
  }

  // The vectors live as long as the server, so that after the first
  // connections it allocates nothing but the copies of the stream.
  void Serve() {
    for (;;) {
      FPolled.assign(1, pollfd{FListener, POLLIN, 0});
      for (const TConnection& c : FConnections)
        FPolled.push_back({c.Fd, static_cast<short>(POLLIN | (c.Sent < c.Out.size() ? POLLOUT : 0)), 0});
      if (poll(FPolled.data(), FPolled.size(), -1) < 0) continue;
      size_t kept = 0;
      for (size_t i = 0; i < FConnections.size(); ++i) {
        if (Pump(FConnections[i], FPolled[i + 1].revents)) std::swap(FConnections[kept++], FConnections[i]);
        else Close(FConnections[i]);
      }
      FConnections.resize(kept);
      TConnection fresh{-1, std::string(), 0, false};
      if ((FPolled[0].revents & POLLIN) && Accept(fresh)) {
        if (Pump(fresh, 0)) FConnections.push_back(std::move(fresh));
        else Close(fresh);
      }
    }
  }

  int FListener = -1;
  int FPort = 0;
  std::mutex FLock;
  std::condition_variable FClosed;
  std::string FStream;
  int FOpen = 0;
  std::vector<TConnection> FConnections;
  std::vector<pollfd> FPolled;
};
