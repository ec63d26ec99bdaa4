#ifndef SUPPORT__RAW_HTTP_HPP_
#define SUPPORT__RAW_HTTP_HPP_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace kestrune_test {

/// A TCP connection to 127.0.0.1 that sends exactly the bytes it is given, for
/// requests no well-behaved client would send and for streams read by hand.
class RawConnection {
 public:
  explicit RawConnection(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
      throw std::runtime_error("cannot connect to port " + std::to_string(port));
    }
  }
  ~RawConnection() { ::close(fd_); }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  /// Sends what it can; a server that closed early is not an error here.
  void Send(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) {
        return;
      }
      sent += static_cast<size_t>(n);
    }
  }

  /// Reads until `needle` has arrived, the peer closes or `timeout` passes;
  /// returns everything read so far.
  const std::string& ReadUntil(const std::string& needle,
                               std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (received_.find(needle) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd poll_fd{fd_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&poll_fd, 1, static_cast<int>(left.count())) <= 0) {
        break;
      }
      char buffer[4096];
      const ssize_t n = ::recv(fd_, buffer, sizeof(buffer), 0);
      if (n <= 0) {
        break;
      }
      received_.append(buffer, static_cast<size_t>(n));
    }
    return received_;
  }

  /// Reads until the peer closes (or `timeout`): a whole response of a closed connection.
  const std::string& ReadAll(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    return ReadUntil(std::string(1, '\0') + "never", timeout);
  }

  void Forget() { received_.clear(); }

  /// Reads one whole response of a connection kept open (by Content-Length,
  /// which the answer to a HEAD has without a body) and takes it off what was
  /// received; empty when none came in `timeout`.
  std::string ReadResponse(std::chrono::milliseconds timeout = std::chrono::seconds(10),
                           bool head = false) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    size_t total = std::string::npos;
    while (received_.size() < total) {
      const size_t head_end = received_.find("\r\n\r\n");
      if (total == std::string::npos && head_end != std::string::npos) {
        const std::string field = "Content-Length: ";
        const size_t at = received_.find(field);
        total = head_end + 4 +
                (at < head_end && !head ? std::stoul(received_.substr(at + field.size())) : 0);
        continue;
      }
      if (!ReadSome(deadline)) {
        return {};
      }
    }
    std::string response = received_.substr(0, total);
    received_.erase(0, total);
    return response;
  }

  /// Whether the peer has closed the connection (or reset it), without waiting.
  bool Closed() {
    char byte;
    const ssize_t n = ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
  }

 private:
  /// Appends what arrives before `deadline`; false at the deadline or on close.
  bool ReadSome(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd poll_fd{fd_, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&poll_fd, 1, static_cast<int>(left.count())) <= 0) {
      return false;
    }
    char buffer[4096];
    const ssize_t n = ::recv(fd_, buffer, sizeof(buffer), 0);
    if (n <= 0) {
      return false;
    }
    received_.append(buffer, static_cast<size_t>(n));
    return true;
  }

  int fd_;
  std::string received_;
};

/// Clients that each hold a connection and trickle one header byte every
/// `gap`, never finishing their request, from a thread of their own; a
/// client the server cuts connects again. Only to 127.0.0.1, and only while
/// this object lives.
class SlowClients {
 public:
  SlowClients(int port, int count, std::chrono::milliseconds gap)
      : thread_([this, port, count, gap] {
          std::vector<std::unique_ptr<RawConnection>> clients;
          for (int i = 0; i < count; ++i) {
            clients.push_back(Open(port));
          }
          std::unique_lock<std::mutex> lock(mutex_);
          while (!wake_.wait_for(lock, gap, [this] { return stop_; })) {
            for (auto& client : clients) {
              if (client->Closed()) {
                ++cut_;
                client = Open(port);
              }
              client->Send("a");
            }
          }
        }) {}
  ~SlowClients() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  SlowClients(const SlowClients&) = delete;
  SlowClients& operator=(const SlowClients&) = delete;

  /// How often the server has cut a client so far.
  int cut() const { return cut_.load(); }

 private:
  static std::unique_ptr<RawConnection> Open(int port) {
    auto client = std::make_unique<RawConnection>(port);
    client->Send("GET /api/flows HTTP/1.1\r\nX-Slow: ");
    return client;
  }

  std::atomic<int> cut_{0};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_{false};
  std::thread thread_;
};

/// The status code of the first response in `response`; 0 when there is none.
inline int StatusOf(const std::string& response) {
  if (response.compare(0, 9, "HTTP/1.1 ") != 0 || response.size() < 12) {
    return 0;
  }
  return std::stoi(response.substr(9, 3));
}

}  // namespace kestrune_test

#endif  // SUPPORT__RAW_HTTP_HPP_
