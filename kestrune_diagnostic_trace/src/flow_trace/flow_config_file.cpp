// Reading a flow file's text, the same way for Init and for every tool.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <istream>
#include <string>

#include <fmt/format.h>

#include "kestrune_diagnostic_trace/flow_config.hpp"

namespace kestrune {
namespace trace {

namespace {

ConfigFinding FileError(FindingCode code, std::string message) {
  return ConfigFinding{FindingSeverity::kError, code, 0, 0, "", std::move(message)};
}

ConfigFinding TooLarge(const std::string& name, size_t max_bytes) {
  return FileError(
      FindingCode::kTooLarge,
      fmt::format("flow file '{}' is larger than {} bytes; it is not read", name, max_bytes));
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) {
      close(fd_);
    }
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

FlowConfigText ReadFlowConfigFile(const std::string& path, size_t max_bytes) {
  FlowConfigText result;
  const FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) {
    const int error = errno;
    result.error =
        FileError(error == ENOENT || error == ENOTDIR ? FindingCode::kMissingFile
                                                      : FindingCode::kUnreadableFile,
                  fmt::format("cannot read flow file '{}': {}", path, std::strerror(error)));
    return result;
  }
  struct stat status {};
  if (fstat(file.get(), &status) == 0 && S_ISDIR(status.st_mode)) {
    result.error = FileError(FindingCode::kDirectory,
                             fmt::format("cannot read flow file '{}': it is a directory", path));
    return result;
  }
  // Read in blocks rather than trusting the size: /proc files and pipes report none.
  char block[16384];
  for (;;) {
    const ssize_t got = read(file.get(), block, sizeof(block));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      result.error =
          FileError(FindingCode::kUnreadableFile,
                    fmt::format("cannot read flow file '{}': {}", path, std::strerror(errno)));
      result.text.clear();
      return result;
    }
    if (got == 0) {
      return result;
    }
    result.text.append(block, static_cast<size_t>(got));
    if (result.text.size() > max_bytes) {
      result.error = TooLarge(path, max_bytes);
      result.text.clear();
      return result;
    }
  }
}

FlowConfigText ReadFlowConfigStream(std::istream& stream, const std::string& name,
                                    size_t max_bytes) {
  FlowConfigText result;
  char block[16384];
  while (stream) {
    stream.read(block, sizeof(block));
    result.text.append(block, static_cast<size_t>(stream.gcount()));
    if (result.text.size() > max_bytes) {
      result.error = TooLarge(name, max_bytes);
      result.text.clear();
      return result;
    }
  }
  if (stream.bad()) {
    result.error = FileError(FindingCode::kUnreadableFile,
                             fmt::format("cannot read flow file '{}': read error", name));
    result.text.clear();
  }
  return result;
}

}  // namespace trace
}  // namespace kestrune
