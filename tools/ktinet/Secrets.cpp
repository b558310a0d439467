#include "Secrets.h"

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "Output.h"
#include "rtl/Exceptions.h"
#include "vcl/KtILogOn.h"
#include "vcl/UiBackend.h"

namespace ktinet::cli {

std::vector<Args::OptionSpec> SecretOptions(const std::string& option, const std::string& shortName) {
  return {{option, shortName, true}, {option + "-file", "", true}};
}

std::string SecretHelp(const std::string& option, const std::string& shortName, const std::string& what,
                       const std::string& envVar, size_t column, bool shortNames) {
  // The description starts in column 24, at least two blanks after the option (so the help
  // reads it as the option's own line), and is wrapped there within the help's width.
  auto line = [column](std::string head, const std::string& text) {
    const std::string indent(column, ' ');
    head = "  " + head;
    if (head.size() + 2 <= indent.size()) return Wrapped(head + std::string(indent.size() - head.size(), ' '), text, indent) + "\n";
    return head + "\n" + Wrapped(indent, text, indent) + "\n";
  };
  std::string upper = option.substr(2);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string pad = shortNames ? "    " : "";
  std::string head = (shortName.empty() ? pad : shortName + ", ") + option + " " + upper;
  return line(head, what + " (other users can see it in ps: prefer the forms below)") +
         line(pad + option + "-file F", "the same, read from the first line of file F") +
         line(pad + "$" + envVar, "the same, from the environment");
}

std::optional<std::string> Secret(const Args& args, const std::string& option, const std::string& envVar) {
  const std::string fileOption = option + "-file";
  auto direct = args.Get(option);
  auto file = args.Get(fileOption);
  if (direct && file) throw UsageError("give " + option + " or " + fileOption + ", not both");
  if (direct) return direct;
  if (file) {
    std::ifstream in(*file, std::ios::binary);
    if (!in) throw UsageError(fileOption + ": cannot read '" + *file + "'");
    std::string first;
    std::getline(in, first);
    if (!first.empty() && first.back() == '\r') first.pop_back();
    return first;
  }
  if (const char* value = std::getenv(envVar.c_str())) return std::string(value);
  return std::nullopt;
}

std::optional<std::string> PasswordFor(const Args& args, const std::string& user, const std::string& option,
                                       const std::string& envVar, const std::string& caption) {
  if (auto secret = Secret(args, option, envVar)) return secret;
  // Without a terminal nobody could answer; the dialog would only say Cancel.
  if (std::strcmp(CurrentBackend().Name(), "headless") == 0) return std::nullopt;
  String name = UTF8ToString(user), password;
  if (!KtInAskLogon(UTF8ToString(caption), name, password)) throw Exception(u"cancelled");
  return UTF8Encode(password);
}

}  // namespace ktinet::cli
