// The ktinet program's plumbing: subcommand registry and argument parsing.
// Each subcommand lives in its own source file and registers itself with
// KTINET_COMMAND, so adding a component to the program touches one file.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace ktinet::cli {

// Exit codes of the program.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Raised for bad usage; main prints "ktinet CMD: message" and exits 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Parsed command line of one subcommand. Options may stand before or after the
// positional arguments; "--" ends the options.
class Args {
 public:
  struct OptionSpec {
    std::string name;      // "--timeout"
    std::string shortName; // "-X" or empty
    bool takesValue;
    bool repeatable = false;
  };

  Args(std::vector<std::string> argv, const std::vector<OptionSpec>& specs);

  bool Has(const std::string& name) const;
  std::optional<std::string> Get(const std::string& name) const;
  std::string GetOr(const std::string& name, const std::string& fallback) const;
  std::vector<std::string> GetAll(const std::string& name) const;
  // Integer option with range check; raises UsageError on garbage.
  long GetInt(const std::string& name, long fallback, long min, long max) const;
  const std::vector<std::string>& Positional() const { return FPositional; }
  // Raises UsageError unless the count of positional arguments lies in [min, max].
  void ExpectPositional(size_t min, size_t max) const;

 private:
  std::map<std::string, std::vector<std::string>> FOptions;
  std::vector<std::string> FPositional;
};

struct Command {
  std::string name;
  std::string summary;   // one line for `ktinet --help`
  std::string usage;     // full text for `ktinet NAME --help`
  std::vector<Args::OptionSpec> options;
  std::function<int(const Args&)> run;
};

std::map<std::string, Command>& Registry();

// Appends a shared group of options (deadlines, TLS, a secret's forms ...) to a subcommand's own.
inline void AppendOptions(std::vector<Args::OptionSpec>& to, const std::vector<Args::OptionSpec>& more) {
  to.insert(to.end(), more.begin(), more.end());
}

struct Registrar {
  explicit Registrar(Command c);
};

// Decodes C escapes (\r \n \t \\ \0 \xHH) in a command-line text.
std::string Unescape(const std::string& s);

// The user's home folder: HOME when it is absolute, else the password database's entry; empty when
// neither gives one.
std::string HomeFolder();

// The folder for the program's own state: $XDG_STATE_HOME/ktinet, or ~/.local/state/ktinet
// (the home folder from HOME, else from the password database). Made, private to the user,
// when missing. Throws std::runtime_error naming what went wrong.
std::string StateDirectory();

}  // namespace ktinet::cli

#define KTINET_CLI_CONCAT2(a, b) a##b
#define KTINET_CLI_CONCAT(a, b) KTINET_CLI_CONCAT2(a, b)
#define KTINET_COMMAND(...) \
  static ::ktinet::cli::Registrar KTINET_CLI_CONCAT(ktinetCommand_, __LINE__)(__VA_ARGS__)
