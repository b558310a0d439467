// Files a user names on the command line, where "-" stands for standard input or, where the
// program writes a file, for standard output.
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

// Writes all of `bytes` to standard output (flushing what std::cout holds first). Raises
// Exception ("standard output: why").
void WriteStandardOutput(const std::string& bytes);

// For components that write a named file: when `path` is "-", a name in a private temporary
// directory (no file there yet, so a component that compares with an existing file finds none)
// whose bytes Deliver() then copies to standard output; otherwise `path` itself. The temporary
// directory goes with the object.
class OutputFile {
 public:
  explicit OutputFile(const std::string& path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  const std::string& Path() const { return FPath; }
  bool ToStandardOutput() const { return !FDir.empty(); }
  // Copies what the component wrote to standard output; nothing for a named file. Raises
  // Exception when the file cannot be read or standard output not written.
  void Deliver() const;

 private:
  std::string FPath;
  std::string FDir;
};

}  // namespace ktinet::cli
