#include "Cli.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace ktinet::cli {

std::map<std::string, Command>& Registry() {
  static std::map<std::string, Command> commands;
  return commands;
}

Registrar::Registrar(Command c) {
  std::string name = c.name;
  Registry().emplace(std::move(name), std::move(c));
}

Args::Args(std::vector<std::string> argv, const std::vector<OptionSpec>& specs) {
  auto find = [&](const std::string& word) -> const OptionSpec* {
    for (const auto& s : specs)
      if (s.name == word || (!s.shortName.empty() && s.shortName == word)) return &s;
    return nullptr;
  };
  bool optionsEnded = false;
  for (size_t i = 0; i < argv.size(); ++i) {
    const std::string& a = argv[i];
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      FPositional.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    std::string word = a, value;
    bool inlineValue = false;
    if (a.rfind("--", 0) == 0) {
      auto eq = a.find('=');
      if (eq != std::string::npos) {
        word = a.substr(0, eq);
        value = a.substr(eq + 1);
        inlineValue = true;
      }
    }
    const OptionSpec* opt = find(word);
    if (!opt) throw UsageError("unknown option '" + word + "'");
    if (opt->takesValue) {
      if (!inlineValue) {
        if (i + 1 >= argv.size()) throw UsageError("option " + word + " needs a value");
        value = argv[++i];
      }
    } else if (inlineValue) {
      throw UsageError("option " + word + " takes no value");
    }
    auto& slot = FOptions[opt->name];
    if (!slot.empty() && !opt->repeatable) slot.clear();
    slot.push_back(value);
  }
}

bool Args::Has(const std::string& name) const { return FOptions.count(name) != 0; }

std::optional<std::string> Args::Get(const std::string& name) const {
  auto it = FOptions.find(name);
  if (it == FOptions.end() || it->second.empty()) return std::nullopt;
  return it->second.back();
}

std::string Args::GetOr(const std::string& name, const std::string& fallback) const {
  auto v = Get(name);
  return v ? *v : fallback;
}

std::vector<std::string> Args::GetAll(const std::string& name) const {
  auto it = FOptions.find(name);
  return it == FOptions.end() ? std::vector<std::string>{} : it->second;
}

long Args::GetInt(const std::string& name, long fallback, long min, long max) const {
  auto v = Get(name);
  if (!v) return fallback;
  errno = 0;
  char* end = nullptr;
  long n = std::strtol(v->c_str(), &end, 10);
  if (v->empty() || *end != '\0' || errno == ERANGE || n < min || n > max)
    throw UsageError(name + " wants a whole number from " + std::to_string(min) + " to " +
                     std::to_string(max) + ", not '" + *v + "'");
  return n;
}

void Args::ExpectPositional(size_t min, size_t max) const {
  if (FPositional.size() < min) throw UsageError("missing argument");
  if (FPositional.size() > max) throw UsageError("unexpected argument '" + FPositional[max] + "'");
}

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 >= s.size()) {
      out.push_back(s[i]);
      continue;
    }
    char c = s[++i];
    switch (c) {
      case 'r': out.push_back('\r'); break;
      case 'n': out.push_back('\n'); break;
      case 't': out.push_back('\t'); break;
      case '0': out.push_back('\0'); break;
      case '\\': out.push_back('\\'); break;
      case 'x': {
        auto hex = [](char h) -> int {
          if (h >= '0' && h <= '9') return h - '0';
          if (h >= 'a' && h <= 'f') return h - 'a' + 10;
          if (h >= 'A' && h <= 'F') return h - 'A' + 10;
          return -1;
        };
        int v = 0, digits = 0;
        while (digits < 2 && i + 1 < s.size() && hex(s[i + 1]) >= 0) v = v * 16 + hex(s[++i]), ++digits;
        if (digits == 0) out += "\\x";
        else out.push_back(static_cast<char>(v));
        break;
      }
      default: out.push_back('\\'); out.push_back(c);
    }
  }
  return out;
}

std::string HomeFolder() {
  if (const char* env = std::getenv("HOME"); env && env[0] == '/') return env;
  std::vector<char> buf(16384);
  passwd pw{}, *found = nullptr;
  if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir &&
      found->pw_dir[0] == '/')
    return found->pw_dir;
  return std::string();
}

std::string StateDirectory() {
  // Only an absolute XDG_STATE_HOME counts, as the base-directory rules say.
  std::string base;
  if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const std::string home = HomeFolder();
    if (home.empty()) throw std::runtime_error("no folder for the program's state: set XDG_STATE_HOME or HOME");
    base = home + "/.local/state";
  }
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  const std::string dir = base + "/ktinet";
  for (size_t at = 1; at <= dir.size(); ++at) {
    if (at < dir.size() && dir[at] != '/') continue;
    const std::string part = dir.substr(0, at);
    if (::mkdir(part.c_str(), 0700) == 0 || errno == EEXIST) continue;
    throw std::runtime_error("cannot make the state folder " + part + ": " + std::strerror(errno));
  }
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    throw std::runtime_error("the state folder " + dir + " is not a folder");
  return dir;
}

}  // namespace ktinet::cli
