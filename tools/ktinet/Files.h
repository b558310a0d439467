// Files a user names on the command line, where "-" stands for standard input.
#pragma once

#include <string>

namespace ktinet::cli {

// The bytes of FILE, or of standard input for "-". Raises Exception ("cannot read F: why").
std::string ReadInputFile(const std::string& path);

// For components that read a named file: standard input copied to a private temporary file
// when `path` is "-", otherwise `path` itself. The copy goes with the object.
class InputFile {
 public:
  explicit InputFile(const std::string& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
  bool FTemporary = false;
};

}  // namespace ktinet::cli
