// `ktinet components`, `ktinet inspect` and `ktinet form`: what a designer shows of the suite
// (the palette page, the object inspector, form files), and the demo line that saves, reloads and
// runs a form file.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include <unistd.h>

#include "Cli.h"
#include "Demo.h"
#include "DemoServers.h"
#include "FeedsSupport.h"
#include "FormRun.h"
#include "Output.h"
#include "design/KtInetPkg.h"
#include "design/KtInetR.h"
#include "design/KtInetRes.h"
#include "mail/KtISMTP.h"
#include "protocols/KtIDNS.h"
#include "protocols/KtIHTTP.h"
#include "protocols/KtISNTP.h"
#include "protocols/KtITime.h"
#include "protocols/KtIWeath.h"
#include "protocols/KtWhoIs.h"
#include "rtl/DateTime.h"
#include "rtl/FormFiles.h"
#include "rtl/SysUtils.h"
#include "services/KtIMSTranslator.h"
#include "transfer/ktidir.h"
#include "transfer/ktiimage.h"
#include "transfer/ktixtract.h"
#include "vcl/ExtCtrls.h"
#include "vcl/Forms.h"
#include "vcl/Graphics.h"
#include "vcl/UiBackend.h"
#include "xml/KtIRSS.h"

namespace ktinet::cli {

namespace {

void RegisterAll() {
  Register();
  RegisterFormClasses();
}

std::string Text(const String& s) { return UTF8Encode(s); }

const TClassInfo* ClassByName(const std::string& name) {
  RegisterAll();
  const TClassInfo* info = FindClassInfo(UTF8ToString(name));
  if (!info || !info->Create()) {
    std::string known;
    for (const TClassInfo* c : RegisteredClasses())
      if (c->Create()) known += (known.empty() ? "" : ", ") + Text(c->Name());
    throw UsageError("unknown component class " + name + " (known: " + known + ")");
  }
  return info;
}

// ---- components ----------------------------------------------------------------------------

int RunComponents(const Args& args) {
  args.ExpectPositional(0, 0);
  RegisterAll();
  std::cout << "Package " << Text(PackageName()) << " for host version " << Text(HostVersion()) << ": "
            << Text(PackageDescription()) << "\n";
  const auto bitmaps = args.Get("--bitmaps");
  for (const TPalettePage& page : PalettePages()) {
    std::cout << "\nPalette page " << Text(page.Name) << "\n";
    for (const TClassInfo* cls : page.Classes) {
      std::unique_ptr<TPersistent> instance(cls->Create()(nullptr));
      auto editor = GetComponentEditor(static_cast<TComponent*>(instance.get()));
      std::string verbs;
      for (int i = 0; i < editor->GetVerbCount(); ++i) verbs += (i ? ", " : "") + Text(editor->GetVerb(i));
      std::string bmp;
      const bool hasBitmap = FindPaletteBitmap(UpperCase(cls->Name()), bmp);
      std::printf("  %-18s verb: %-18s bitmap: %s\n", Text(cls->Name()).c_str(), verbs.c_str(),
                  hasBitmap ? Text(UpperCase(cls->Name())).c_str() : "(the host's default image)");
      if (bitmaps && hasBitmap) {
        const std::string path = *bitmaps + "/" + Text(UpperCase(cls->Name())) + ".bmp";
        std::ofstream out(path, std::ios::binary);
        out.write(bmp.data(), static_cast<std::streamsize>(bmp.size()));
        if (!out) {
          std::cerr << "ktinet components: cannot write " << path << "\n";
          return kExitFailed;
        }
      }
    }
  }
  return kExitOk;
}

// ---- inspect -------------------------------------------------------------------------------

void InspectRows(TPersistent* obj, const TClassInfo* info, int level) {
  for (const TPropInfo* p : info->Properties()) {
    if (p->IsEvent()) continue;
    auto editor = GetPropertyEditor(obj, p);
    std::string value;
    // A read-only value may cost a network exchange to read (the time clients' DateTime).
    if (p->IsReadOnly() && p->Type->Kind != tkClass) value = "(read-only: read at run time)";
    else value = Text(editor->GetValue());
    std::string note;
    if (p->Default) note = "default " + Text(OrdinalToText(p->Type, *p->Default));
    if (!p->StoredFlag) note += (note.empty() ? "" : ", ") + std::string("not stored");
    const TPropertyAttributes attrs = editor->GetAttributes();
    if (attrs.Contains(paDialog) && attrs.Contains(paReadOnly) && p->Type->Kind == tkString)
      note += (note.empty() ? "" : ", ") + std::string("dialog, read-only");
    std::string name = std::string(static_cast<size_t>(level) * 2, ' ') + Text(p->Name);
    std::printf("  %-28s %-24s %-30s %s\n", name.c_str(), Text(p->Type->Name).c_str(), value.c_str(), note.c_str());
    if (p->Type->Kind == tkClass && p->Type->ClassKind == cpPersistent) {
      auto* sub = static_cast<TPersistent*>(p->GetObj(obj));
      if (sub && sub->ClassInfo()) InspectRows(sub, sub->ClassInfo(), level + 1);
    }
  }
}

int RunInspect(const Args& args) {
  args.ExpectPositional(1, 1);
  const TClassInfo* info = ClassByName(args.Positional()[0]);
  std::unique_ptr<TPersistent> instance(info->Create()(nullptr));
  std::string ancestry;
  for (const TClassInfo* c = info->Parent(); c; c = c->Parent()) ancestry += " < " + Text(c->Name());
  std::cout << Text(info->Name()) << ancestry << "\n\nProperties (a new component's values):\n";
  std::printf("  %-28s %-24s %-30s %s\n", "Name", "Type", "Value", "Stored default");
  InspectRows(instance.get(), info, 0);
  std::cout << "\nEvents:\n";
  for (const TPropInfo* p : info->Properties())
    if (p->IsEvent()) std::printf("  %-28s %s\n", Text(p->Name).c_str(), Text(p->Type->Name).c_str());
  return kExitOk;
}

// ---- form ----------------------------------------------------------------------------------

String NewForm(const std::vector<std::string>& classes) {
  TDataModule root(nullptr);
  root.SetName(u"DataModule1");
  std::map<String, int> counts;
  for (const std::string& name : classes) {
    const TClassInfo* info = ClassByName(name);
    if (!info->IsComponent()) throw UsageError(name + " is not a component class");
    auto* c = static_cast<TComponent*>(info->Create()(&root));
    // The designer's naming: the class name without its T and a number.
    String base = info->Name().substr(info->Name().size() > 1 && (info->Name()[0] == u'T' || info->Name()[0] == u't') ? 1 : 0);
    c->SetName(base + IntToStr(++counts[base]));
  }
  return WriteComponentText(&root);
}

// Runs one component's main call and prints what the subcommand of its class prints; false
// when the call failed.
bool RunComponent(TComponent* c, std::ostream& out, std::ostream& err) {
  const std::string label = Text(c->Name()) + ": " + Text(c->ClassName());
  auto fail = [&](const String& why) {
    err << "ktinet form run: " << label << ": " << Text(why) << "\n";
    return false;
  };
  if (auto* t = dynamic_cast<TKtInetDateTime*>(c)) {
    TDateTime dt = t->DateTime();
    if (!t->LastError().empty()) return fail(t->LastError());
    out << IsoUtc(dt) << "\n";
    return true;
  }
  if (auto* t = dynamic_cast<TKtInetSNTP*>(c)) {
    TDateTime dt = t->DateTime();
    if (dt == 0) return fail(t->LastError().empty() ? String(u"no valid answer from the server") : t->LastError());
    out << IsoUtc(dt + t->TimeZoneBias(), true) << "\n";
    return true;
  }
  if (bool ok = true; RunTrackerOfForm(c, out, err, ok)) return ok;
  if (auto* m = dynamic_cast<TKtISMTP*>(c)) {
    m->Send();
    if (!m->LastError().empty()) return fail(m->LastError());
    out << "accepted by " << Text(m->Host()) << ":" << m->Port() << " for "
        << m->Recipients()->Count() + m->CC()->Count() + m->BCC()->Count() << " recipient(s)\n";
    return true;
  }
  if (auto* d = dynamic_cast<TKtIDNSResolver*>(c)) {
    String answer = d->Execute();
    if (!d->LastError().empty()) return fail(d->LastError());
    try {
      for (const TDNSMessage& msg : DecodeDNSAnswer(answer)) {
        out << ";; " << Text(DNSRCodeName(msg.RCode())) << "\n";
        for (const auto& r : msg.Answers) out << Text(DNSRecordToText(r, u"\t")) << "\n";
      }
    } catch (const Exception& e) {
      return fail(e.Message());
    }
    return true;
  }
  if (auto* w = dynamic_cast<TKtWeatherInfo*>(c)) {
    w->Execute();
    if (!w->LastError().empty()) return fail(w->LastError());
    if (!w->TemperatureFound()) return fail(u"the page carries no temperature");
    out << w->Temperature() << "\n";
    return true;
  }
  if (auto* b = dynamic_cast<TKtInetBase*>(c)) {
    std::string bytes = StringToBytes(b->Execute());
    if (!b->LastError().empty()) return fail(b->LastError());
    // As `ktinet query` does: defused on a terminal, byte for byte elsewhere.
    if (&out == &std::cout && StdoutIsTerminal()) bytes = EscapeControls(bytes, LineBreaks::kKeep);
    out << bytes;
    if (!bytes.empty() && bytes.back() != '\n') out << "\n";
    return true;
  }
  if (dynamic_cast<TKtMSTranslator*>(c)) {
    out << "(the translator has no call without arguments: see ktinet translate)\n";
    return true;
  }
  if (auto* web = dynamic_cast<TKtCustomWebComponent*>(c)) {
    const bool ok = web->Execute();
    // The subcommands print the result itself; what has none says how it went.
    if (auto* rss = dynamic_cast<TKtIRSSParser*>(c)) {
      PrintRssChannels(out, *rss->Channels());
    } else if (auto* x = dynamic_cast<TKtInfoExtractor*>(c)) {
      for (int i = 0; i < x->ExtractedInfo()->Count(); ++i) out << Shown(x->ExtractedInfo()->Get(i)) << "\n";
    } else if (auto* f = dynamic_cast<TKtRemoteFiles*>(c)) {
      for (int i = 0; i < f->FileList()->Count(); ++i) out << EscapeControls(Text(f->FileList()->Get(i))) << "\n";
    } else if (auto* img = dynamic_cast<TKtRemoteImage*>(c)) {
      // One fetch, in the line `ktinet image` prints for each.
      TGraphic* g = img->Image() ? img->Image()->Picture()->Graphic() : nullptr;
      out << "1: " << feeds::StatusText(web->Status()) << ", "
          << (!g || g->Empty() ? std::string("no picture")
                               : Text(g->DefaultExtension()) + " " + std::to_string(g->Width()) + " x " +
                                     std::to_string(g->Height()))
          << "\n";
    } else {
      out << feeds::StatusText(web->Status()) << "\n";
    }
    return ok || fail(u"the transfer failed");
  }
  return true;  // a container or a control: nothing to run
}

int RunFormFile(const std::string& path, std::ostream& out, std::ostream& err) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    err << "ktinet form run: cannot read " << path << "\n";
    return kExitFailed;
  }
  std::stringstream text;
  text << in.rdbuf();
  RegisterAll();
  std::unique_ptr<TComponent> root;
  try {
    root = ReadComponentText(UTF8ToString(text.str()));
  } catch (const Exception& e) {
    err << "ktinet form run: " << path << ": " << Text(e.Message()) << "\n";
    return kExitFailed;
  }
  // A container's components are the form's; a component at the root owns only its own parts
  // (the socket of a client), which are not run on their own.
  std::vector<TComponent*> all{root.get()};
  if (dynamic_cast<TDataModule*>(root.get()) || dynamic_cast<TForm*>(root.get()))
    for (int i = 0; i < root->ComponentCount(); ++i) all.push_back(root->Components(i));
  bool ok = true;
  for (TComponent* c : all) {
    if (dynamic_cast<TDataModule*>(c) || dynamic_cast<TImage*>(c)) continue;
    out << "== " << Text(c->Name()) << ": " << Text(c->ClassName()) << "\n";
    try {
      ok = RunComponent(c, out, err) && ok;
    } catch (const Exception& e) {
      err << "ktinet form run: " << Text(c->Name()) << ": " << Text(e.Message()) << "\n";
      ok = false;
    }
  }
  return ok ? kExitOk : kExitFailed;
}

int RunForm(const Args& args) {
  const auto& pos = args.Positional();
  if (pos.empty()) throw UsageError("form needs new or run");
  if (pos[0] == "new") {
    if (pos.size() < 2) throw UsageError("form new needs at least one component class");
    std::cout << Text(NewForm(std::vector<std::string>(pos.begin() + 1, pos.end())));
    return std::cout.flush() ? kExitOk : kExitFailed;
  }
  if (pos[0] == "run") {
    if (pos.size() != 2) throw UsageError("form run needs one form file");
    ChooseBackendFromEnvironment();
    return RunFormFile(pos[1], std::cout, std::cerr);
  }
  throw UsageError("unknown form command " + pos[0] + " (new or run)");
}

// Saves a form with a WHOIS client and an HTTP client aimed at two embedded servers, reads the
// file back and runs it.
DemoOutcome DemoForm() {
  DemoOutcome outcome;
  DemoServer whoisServer([](DemoConnection& conn) {
    std::string q = conn.ReceiveUntil("\r\n");
    conn.Send("Domain Name: FORM.EXAMPLE\r\nQuery: " + q);
  });
  DemoServer httpServer([](DemoConnection& conn) {
    conn.ReceiveUntil("\r\n\r\n");
    conn.Send("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nhello from the form\r\n");
  });
  RegisterAll();
  String text;
  {
    TDataModule root(nullptr);
    root.SetName(u"DataModule1");
    auto* whois = new TKtWhoIs(&root);
    whois->SetName(u"KtWhoIs1");
    whois->SetAutoSelectServer(false);
    whois->SetDomain(u"form.example");
    whois->SetHost(UTF8ToString(DemoServer::Host()));
    whois->SetPort(whoisServer.Port());
    whois->SetReadTimeout(5000);
    auto* http = new TKtIHTTPClient(&root);
    http->SetName(u"KtIHTTPClient1");
    http->SetHost(UTF8ToString(DemoServer::Host()));
    http->SetPort(httpServer.Port());
    http->SetAction(haGet);
    http->SetRequest(u"/hello.txt");
    http->SetReadTimeout(5000);
    text = WriteComponentText(&root);
  }
  const std::string path = Text(IncludeTrailingPathDelimiter(GetTempDir())) + "ktinet-demo-form-" +
                           std::to_string(::getpid()) + ".txt";
  {
    std::ofstream file(path, std::ios::binary);
    file << Text(text);
  }
  std::ostringstream out, err;
  const int rc = RunFormFile(path, out, err);
  std::remove(path.c_str());
  outcome.did = "form file of " + std::to_string(text.size()) + " characters with a TKtWhoIs and a TKtIHTTPClient, saved, read back and run";
  const std::string got = out.str();
  if (rc != kExitOk) {
    outcome.result = "error: " + err.str().substr(0, err.str().find('\n'));
  } else if (got.find("form.example\r\n") == std::string::npos || got.find("hello from the form") == std::string::npos) {
    outcome.result = "unexpected output of " + std::to_string(got.size()) + " bytes";
  } else {
    outcome.ok = true;
    outcome.result = "both components answered from the reloaded form";
  }
  return outcome;
}

}  // namespace

KTINET_COMMAND(Command{"components", "the palette page of the suite: its components and their verbs",
                       "Usage: ktinet components [--bitmaps DIR]\n\n"
                       "Lists the package, its palette page \"Kt-Internet\" with the components in palette\n"
                       "order, the verb each one's context menu offers and its palette bitmap.\n\n"
                       "  --bitmaps DIR   also write each palette bitmap to DIR/<NAME>.bmp\n",
                       {{"--bitmaps", "", true}},
                       RunComponents});

KTINET_COMMAND(Command{"inspect", "the published properties of a component class, like an object inspector",
                       "Usage: ktinet inspect CLASS\n\n"
                       "Shows the published properties of CLASS (for instance TKtWhoIs) in published order:\n"
                       "name, type, the value of a new component and the stored default (a value equal to\n"
                       "it is left out of form files); nested objects are indented under their property.\n"
                       "Read-only values that would need a network exchange are not read. Then the events.\n",
                       {},
                       RunInspect});

KTINET_COMMAND(Command{"form", "write a form file of components, or load one and run its components",
                       "Usage: ktinet form new CLASS... > FILE\n"
                       "       ktinet form run FILE\n\n"
                       "new   writes a form file (text form) with one component of each CLASS at its\n"
                       "      defaults, named like a designer names them (KtWhoIs1, KtIHTTPClient1 ...),\n"
                       "      in a TDataModule. Edit it, then run it.\n"
                       "run   reads FILE and runs each component's main call in file order (Execute,\n"
                       "      Send for the mail sender, reading DateTime for the time clients), printing\n"
                       "      a \"== Name: Class\" line and then the result as the component's subcommand\n"
                       "      would. Exit 1 when the file cannot be read (the error names the line) or a\n"
                       "      component failed.\n",
                       {},
                       RunForm});

KTINET_DEMO_STEP(DemoStep{190, "form file", DemoForm});

}  // namespace ktinet::cli
