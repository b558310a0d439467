#include "vcl/UiBackend.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "vcl/Forms.h"
#include "vcl/TerminalBackend.h"

namespace ktinet {

namespace {

std::unique_ptr<UiBackend>& Slot() {
  static std::unique_ptr<UiBackend> backend;
  return backend;
}

// Message texts use CR LF between lines; a stream wants LF.
std::string ForStream(const String& text) {
  std::string s = UTF8Encode(text), out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
    out.push_back(s[i]);
  }
  return out;
}

}  // namespace

TModalResult UnattendedAnswer(const TMsgDlgButtons& buttons) {
  if (buttons.Contains(mbCancel)) return mrCancel;
  if (buttons.Contains(mbNo)) return mrNo;
  if (buttons.Contains(mbOK)) return mrOk;
  auto list = buttons.List();
  return list.empty() ? mrOk : ModalResultOf(list.front());
}

TModalResult HeadlessBackend::ShowModal(TForm& form) {
  // Nobody can answer: say so once, so a user of a pipe or a service learns why a
  // logon was not asked for.
  if (FOut)
    std::fprintf(FOut, "%s: no terminal to ask on; answered Cancel\n",
                 form.Caption().empty() ? "dialog" : ForStream(form.Caption()).c_str());
  return mrCancel;
}

TModalResult HeadlessBackend::MessageBox(const TMessageRequest& request) {
  if (FOut) {
    std::string caption = ForStream(request.Caption), text = ForStream(request.Text);
    if (caption.empty()) std::fprintf(FOut, "%s\n", text.c_str());
    else if (text.find('\n') == std::string::npos) std::fprintf(FOut, "%s: %s\n", caption.c_str(), text.c_str());
    else std::fprintf(FOut, "%s:\n%s\n", caption.c_str(), text.c_str());
    std::fflush(FOut);
  }
  return UnattendedAnswer(request.Buttons);
}

UiBackend& CurrentBackend() {
  auto& slot = Slot();
  if (!slot) slot = std::make_unique<HeadlessBackend>();
  return *slot;
}

void SetBackend(std::unique_ptr<UiBackend> backend) {
  Slot() = backend ? std::move(backend) : std::make_unique<HeadlessBackend>();
}

UiBackend& ChooseBackendFromEnvironment() {
  std::string wanted;
  if (const char* v = std::getenv("KTINET_UI")) wanted = v;
  for (char& c : wanted) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  bool terminal;
  if (wanted == "terminal") {
    terminal = true;
  } else if (wanted == "headless") {
    terminal = false;
  } else {
    if (!wanted.empty())
      std::fprintf(stderr, "ktinet: KTINET_UI=%s is neither 'terminal' nor 'headless'; choosing by the terminal\n",
                   std::getenv("KTINET_UI"));
    terminal = isatty(STDIN_FILENO) == 1 && isatty(STDOUT_FILENO) == 1;
  }
  if (terminal) SetBackend(std::make_unique<TerminalBackend>());
  else SetBackend(std::make_unique<HeadlessBackend>());
  return CurrentBackend();
}

TBackendScope::TBackendScope(std::unique_ptr<UiBackend> backend) : FPrevious(std::move(Slot())) {
  SetBackend(std::move(backend));
}

TBackendScope::~TBackendScope() {
  Slot() = std::move(FPrevious);
}

}  // namespace ktinet
