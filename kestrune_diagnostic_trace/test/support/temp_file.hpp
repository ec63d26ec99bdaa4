#ifndef SUPPORT__TEMP_FILE_HPP_
#define SUPPORT__TEMP_FILE_HPP_

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace kestrune_test {

/// A file with the given text under the temp directory, removed when it goes out of scope.
class TempFile {
 public:
  explicit TempFile(const std::string& text, const std::string& suffix = ".yaml") {
    std::string pattern = "/tmp/kestrune_test_XXXXXX" + suffix;
    const int fd = mkstemps(pattern.data(), static_cast<int>(suffix.size()));
    if (fd >= 0) {
      close(fd);
    }
    path_ = pattern;
    std::ofstream(path_) << text;
  }
  ~TempFile() { std::remove(path_.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace kestrune_test

#endif  // SUPPORT__TEMP_FILE_HPP_
