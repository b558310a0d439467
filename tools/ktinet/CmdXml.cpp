// `ktinet xml`: TKtXMLEngine from the command line, and its line in the demo.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "Cli.h"
#include "Demo.h"
#include "Files.h"
#include "Json.h"
#include "Output.h"
#include "rtl/Streams.h"
#include "rtl/Exceptions.h"
#include "xml/KtInetXML.h"

namespace ktinet::cli {

namespace {

const char* KindName(TKtXMLItemKind kind) {
  switch (kind) {
    case ikProperty: return "ikProperty";
    case ikAttribute: return "ikAttribute";
    case ikComment: return "ikComment";
    case ikCDATA: return "ikCDATA";
  }
  return "?";
}

// Control characters would break the one-line-per-item layout; they are shown as escapes, and
// backslashes doubled so the escapes read back unambiguously.
std::string Escaped(const String& s) { return EscapeControls(UTF8Encode(s), LineBreaks::kEscape, true); }

// Indentation stops growing at this depth so a deeply nested document prints in linear size;
// deeper lines carry their level instead.
constexpr int kMaxIndent = 64;

std::string ItemLine(const TKtXMLItem* item, int depth, bool raw) {
  std::string line;
  if (depth > kMaxIndent) line += "[level " + std::to_string(depth) + "] ";
  line += std::string(static_cast<size_t>(std::min(depth, kMaxIndent)) * 2, ' ');
  line += KindName(item->Kind());
  line += ' ';
  line += Escaped(item->TagName());
  TKtXMLVariant value = item->Value();
  if (!value.IsEmpty()) line += " = " + Escaped(raw ? value.Text() : item->GetTagValue());
  if (!item->Attributes().empty()) line += "  [" + Escaped(item->Attributes()) + "]";
  return line;
}

void PrintTree(const TKtXMLItem* top, bool raw) {
  struct Frame {
    const TKtXMLItem* item;
    int depth;
  };
  std::vector<Frame> stack{{top, 0}};
  while (!stack.empty()) {
    Frame f = stack.back();
    stack.pop_back();
    std::cout << ItemLine(f.item, f.depth, raw) << '\n';
    const TKtXMLItems* items = f.item->Items();
    for (int k = items->Count() - 1; k >= 0; --k) stack.push_back({items->Items(k), f.depth + 1});
  }
}

// {"kind":..,"name":..,"value":..|null,"attributes":..,"items":[..]}, written without recursion.
void PrintJson(const TKtXMLItem* top, bool raw) {
  struct Frame {
    const TKtXMLItem* item;
    int next;
  };
  auto open = [raw](const TKtXMLItem* item) {
    TKtXMLVariant value = item->Value();
    std::cout << "{\"kind\":\"" << KindName(item->Kind()) << "\",\"name\":" << JsonText(item->TagName())
              << ",\"value\":";
    if (value.IsEmpty())
      std::cout << "null";
    else
      std::cout << JsonText(raw ? value.Text() : item->GetTagValue());
    if (!item->Attributes().empty()) std::cout << ",\"attributes\":" << JsonText(item->Attributes());
    std::cout << ",\"items\":[";
  };
  std::vector<Frame> stack;
  open(top);
  stack.push_back({top, 0});
  while (!stack.empty()) {
    Frame& f = stack.back();
    if (f.next >= f.item->Items()->Count()) {
      std::cout << "]}";
      stack.pop_back();
      continue;
    }
    if (f.next > 0) std::cout << ',';
    const TKtXMLItem* child = f.item->Items()->Items(f.next++);
    open(child);
    stack.push_back({child, 0});
  }
  std::cout << '\n';
}

int RunXml(const Args& args) {
  args.ExpectPositional(1, 1);
  const String file = UTF8ToString(args.Positional()[0]);
  TKtXMLEngine engine(nullptr);
  try {
    if (args.Positional()[0] == "-") {
      TMemoryStream in;
      const std::string bytes = ReadInputFile("-");
      in.Write(bytes.data(), static_cast<long>(bytes.size()));
      in.SetPosition(0);
      engine.LoadFromStream(0, &in);
    } else {
      engine.LoadFromFile(file);
    }
  } catch (const Exception& e) {
    std::cerr << "ktinet xml: " << e.what() << '\n';
    return kExitFailed;
  }
  const bool raw = args.Has("--raw");
  const TKtXMLItem* item = engine.RootItem();
  std::string wanted;
  if (auto tag = args.Get("--find")) {
    item = engine.GetItemByTag(nullptr, UTF8ToString(*tag));
    wanted = "no item named '" + *tag + "' (any case)";
  }
  if (auto tag = args.Get("--child"); tag && item) {
    item = item->GetChild(UTF8ToString(*tag), true);
    wanted = "no item named exactly '" + *tag + "'" + (args.Has("--find") ? " below the one found" : "");
  }
  if (!item) {
    std::cerr << "ktinet xml: " << wanted << " in " << args.Positional()[0] << '\n';
    return kExitFailed;
  }
  if (args.Has("--value")) {
    std::cout << UTF8Encode(raw ? item->Value().Text() : item->GetTagValue()) << '\n';
  } else if (args.Has("--json")) {
    PrintJson(item, raw);
  } else {
    PrintTree(item, raw);
  }
  return kExitOk;
}

const char* const kServiceAnswer =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<TrackResponse><Response><ResponseStatusCode>1</ResponseStatusCode></Response>\n"
    "<Shipment><Package><TrackingNumber>1Z12345E0291980793</TrackingNumber>\n"
    "<Activity><Status><StatusType><Code>D</Code><Description>DELIVERED &amp; SIGNED</Description>"
    "</StatusType></Status><Date>20100521</Date></Activity></Package></Shipment></TrackResponse>\n";

DemoOutcome DemoXml() {
  DemoOutcome out;
  out.did = "parse of an embedded tracking answer";
  TKtXMLEngine engine(nullptr);
  String text = BytesToString(kServiceAnswer);
  engine.ParseXMLFromString(text, static_cast<Integer>(text.size()));
  TKtXMLItem* status = engine.GetItemByTag(nullptr, u"statustype");
  TKtXMLItem* description = status ? engine.GetItemByTag(status, u"Description") : nullptr;
  if (!description) {
    out.result = "the StatusType/Description element was not found";
    return out;
  }
  std::string value = UTF8Encode(description->GetTagValue());
  out.ok = value == "DELIVERED & SIGNED";
  out.result = "Description = \"" + value + "\" (root " + UTF8Encode(engine.RootItem()->TagName()) + ")";
  return out;
}

}  // namespace

KTINET_COMMAND(Command{
    "xml", "print the tree the forgiving XML reader builds from a file (TKtXMLEngine)",
    "Usage: ktinet xml FILE [--find TAG] [--child TAG] [--value] [--raw] [--json]\n\n"
    "Reads FILE (\"-\": standard input) with LoadFromFile (byte-order marks pick UTF-8 or UTF-16, otherwise the ANSI\n"
    "code page; an encoding declared as utf-8 or windows-125x applies to what follows) and\n"
    "prints one line per item: indentation by level, kind, tag name and, when the item has a\n"
    "value, \" = \" and the value through GetTagValue (quotes removed, entities replaced).\n"
    "Control characters in names and values are shown as escapes (\\n, \\t, \\xHH).\n\n"
    "  --find TAG    start at the first item GetItemByTag finds (depth first, any case)\n"
    "  --child TAG   then the first item GetChild finds below it (exact case, all levels)\n"
    "  --value       print only that item's value (GetTagValue)\n"
    "  --raw         show values as stored, without GetTagValue\n"
    "  --json        the tree as JSON: kind, name, value (null when unassigned), items\n\n"
    "Exit status 1 when the file cannot be opened or no item is found.\n",
    {{"--find", "", true}, {"--child", "", true}, {"--value", "", false}, {"--raw", "", false}, {"--json", "", false}},
    RunXml});

KTINET_DEMO_STEP(DemoStep{70, "TKtXMLEngine", DemoXml});

}  // namespace ktinet::cli
