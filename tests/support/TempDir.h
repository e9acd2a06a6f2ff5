#pragma once
// A fresh directory for one test, removed afterwards. The working directory
// is left alone: the tests of one program share a process, so every path a
// test uses is built from path() or file(), and a child process is given
// its working directory explicitly.

#include <string>
#include <vector>

namespace voltrix::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Reads a whole file; empty when it cannot be read.
std::string readFileBytes(const std::string& path);
bool fileExists(const std::string& path);
void writeFileBytes(const std::string& path, const std::string& bytes);
// The lines of a text, without their line breaks.
std::vector<std::string> linesOf(const std::string& text);

}  // namespace voltrix::test
