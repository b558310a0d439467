// The news browser's tree over an arbitrary news file and backup (the input up to its first
// zero byte is the downloaded file, the rest, when there is a zero byte, the backup). Nothing
// may crash or leak; the tree has one heading per section with one entry per key, each entry
// carries its link, it is bold exactly when the backup lacks it (or holds it empty) in the same
// section, and a click would hand the opener only http, https, ftp and mailto links.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "rtl/IniFiles.h"
#include "rtl/SysUtils.h"
#include "transfer/ktidirect.h"
#include "vcl/UiBackend.h"

using namespace ktinet;

namespace {

class QuietBackend : public UiBackend {
 public:
  const char* Name() const override { return "quiet"; }
  TModalResult ShowModal(TForm&) override { return mrCancel; }
  TModalResult MessageBox(const TMessageRequest& request) override { return UnattendedAnswer(request.Buttons); }
};

class TFuzzDirect : public TKtWebDirect {
 public:
  using TKtWebDirect::TKtWebDirect;
  void SetNewsFile(const std::string& path) { FLocalFileName = UTF8ToString(path); }
};

const std::string& Folder() {
  static const std::string dir = [] {
    const char* env = std::getenv("TMPDIR");
    std::string d = std::string(env && *env ? env : "/tmp") + "/ktinet-fuzz-news-XXXXXX";
    if (!::mkdtemp(d.data())) std::abort();
    return d;
  }();
  // Registered once the name exists, so it runs before the name goes: the folder is removed
  // when libFuzzer exits.
  static const bool cleanup = std::atexit([] {
    ::unlink((dir + "/news.wdn").c_str());
    ::unlink((dir + "/news.~wdn").c_str());
    ::rmdir(dir.c_str());
  }) == 0;
  (void)cleanup;
  return dir;
}

bool StartsWithText(const String& s, const char16_t* prefix) {
  const String p(prefix);
  return s.size() >= p.size() && SameText(s.substr(0, p.size()), p);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TBackendScope quiet(std::make_unique<QuietBackend>());
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t zero = input.find('\0');
  const std::string file = Folder() + "/news.wdn", backup = Folder() + "/news.~wdn";
  std::ofstream(file, std::ios::binary | std::ios::trunc) << input.substr(0, zero);
  if (zero == std::string::npos) ::unlink(backup.c_str());
  else std::ofstream(backup, std::ios::binary | std::ios::trunc) << input.substr(zero + 1);

  TFuzzDirect direct(nullptr);
  direct.SetNewsFile(file);
  direct.ShowModal();
  const TTreeView* tree = direct.Tree();
  if (!tree) std::abort();

  TIniFile news(UTF8ToString(file));
  std::unique_ptr<TIniFile> old;
  if (zero != std::string::npos) old = std::make_unique<TIniFile>(UTF8ToString(backup));
  TStringList sections, keys;
  news.ReadSections(&sections);
  const TTreeNode* group = tree->Items()->GetFirstNode();
  for (int s = 0; s < sections.Count(); ++s, group = group->GetNextSibling()) {
    if (!group || group->Text() != sections[s] || group->Data() || group->Bold()) std::abort();
    news.ReadSection(sections[s], &keys);
    if (group->Count() != keys.Count()) std::abort();
    for (int k = 0; k < keys.Count(); ++k) {
      const TTreeNode* entry = group->Item(k);
      auto* link = dynamic_cast<TKtINodeData*>(entry->Data());
      if (!link || link->Url != keys[k]) std::abort();
      const bool fresh = !old || old->ReadString(sections[s], keys[k], String()).empty();
      if (entry->Bold() != fresh || entry->ImageIndex() != (fresh ? 1 : 0)) std::abort();
      const bool opens = TKtWebDirect::IsBrowserLink(link->Url);
      const bool browserScheme = StartsWithText(link->Url, u"http:") || StartsWithText(link->Url, u"https:") ||
                                 StartsWithText(link->Url, u"ftp:") || StartsWithText(link->Url, u"mailto:");
      if (opens != browserScheme) std::abort();
    }
  }
  if (group) std::abort();
  Application->ProcessMessages();  // the closed dialog frees itself and its node data
  return 0;
}
