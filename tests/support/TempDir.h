// A temporary directory that is removed with everything in it when the test ends.
#pragma once

#include <string>

namespace ktinet::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return FPath; }
  // Path of a name inside the directory.
  std::string operator/(const std::string& name) const { return FPath + "/" + name; }
  // Writes `bytes` to a file inside the directory and returns its path.
  std::string Write(const std::string& name, const std::string& bytes) const;

 private:
  std::string FPath;
};

// Reads a whole file as bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);

}  // namespace ktinet::test
