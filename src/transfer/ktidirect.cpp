#include "transfer/ktidirect.h"

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Shell.h"
#include "rtl/IniFiles.h"
#include "rtl/SysUtils.h"
#include "vcl/Dialogs.h"

namespace ktinet {

namespace {

// A shaded ball drawn from its geometry: a dark rim, a light spot up left, white around it.
std::vector<std::string> BallRows() {
  std::vector<std::string> rows;
  for (int y = 0; y < 16; ++y) {
    std::string row;
    for (int x = 0; x < 16; ++x) {
      const double d = std::hypot(x - 7.5, y - 7.5);
      const double spot = std::hypot(x - 5.5, y - 5.0);
      char c = 'w';
      if (d <= 6.9) c = d > 5.9 ? 'k' : spot < 1.6 ? 'h' : spot < 3.2 ? 'l' : d > 4.8 ? 'd' : 'm';
      row.push_back(c);
    }
    rows.push_back(row);
  }
  return rows;
}

std::vector<std::pair<char, TColor>> BallPalette(bool blue) {
  // 0x00BBGGRR
  if (blue) return {{'w', clWhite}, {'k', 0x600000}, {'h', 0xFFF0E0}, {'l', 0xF8B070}, {'m', 0xE07020}, {'d', 0xA04010}};
  return {{'w', clWhite}, {'k', 0x006080}, {'h', 0xE0FFFF}, {'l', 0x80F8FF}, {'m', 0x10D8F8}, {'d', 0x0098C8}};
}

}  // namespace

// The news file comes from the network, and a file: link or a bare path would have the desktop
// open, or even run, something on this machine.
bool TKtWebDirect::IsBrowserLink(const String& url) {
  size_t colon = 0;
  while (colon < url.size() && url[colon] != u':') {
    const Char c = url[colon];
    const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    if (!letter && (colon == 0 || !((c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.'))) return false;
    ++colon;
  }
  if (colon == 0 || colon == url.size()) return false;
  const String scheme = LowerCase(url.substr(0, colon));
  return scheme == u"http" || scheme == u"https" || scheme == u"ftp" || scheme == u"mailto";
}

namespace {

// A link as the refusal shows it: one line of at most 200 characters, no control characters.
String ShownLink(const String& url) {
  String s = url.size() > 200 ? url.substr(0, 199) + u"\u2026" : url;
  for (Char& c : s)
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) c = u'?';
  return s;
}

bool DirectoryWritable(const String& dir) {
  std::string d = UTF8Encode(dir.empty() ? String(u".") : dir);
  return ::access(d.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

std::string NewsImageBitmap(const String& resourceName) {
  if (SameText(resourceName, u"DIRECT_OLD")) return MakeBitmapFile(BallRows(), BallPalette(false));
  if (SameText(resourceName, u"DIRECT_NEW")) return MakeBitmapFile(BallRows(), BallPalette(true));
  throw EInvalidOperation(u"Resource " + resourceName + u" not found");
}

TKtITreeView::TKtITreeView(TComponent* AOwner) : TTreeView(AOwner) { SetStyle(Style() | TVS_TRACKSELECT); }

// ---- TKtWebDirect -----------------------------------------------------------------------------

String TKtWebDirect::NewsFileFor(const String& exePath) {
  return NewsFileFor(exePath, DirectoryWritable(ExtractFileDir(exePath)));
}

String TKtWebDirect::NewsFileFor(const String& exePath, bool besideWritable) {
  const String beside = ChangeFileExt(exePath, u".wdn");
  if (besideWritable) return beside;
  // An installed program cannot write beside itself: the user's data directory takes the file.
  String base;
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && xdg[0] == '/') {
    base = UTF8ToString(xdg);
  } else if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
    base = UTF8ToString(home) + u"/.local/share";
  } else {
    return beside;
  }
  const String name = ExtractFileName(exePath);
  return IncludeTrailingPathDelimiter(base) + ChangeFileExt(name, u"") + u"/" + ExtractFileName(beside);
}

TKtWebDirect::TKtWebDirect(TComponent* AOwner) : TKtCustomWebUpdater(AOwner) {
  FShowMode = omAlways;
  FTitle = u"Ardenfold WebDirect";
  FLocalFileName = NewsFileFor(ParamStr(0));
  FParentControl = nullptr;
}

TKtWebDirect::~TKtWebDirect() {
  // The dialog's destroy handler needs this object whole, so the dialog goes first.
  delete frm;
  SetParentControl(nullptr);
}

String TKtWebDirect::BackupFileName() const { return ChangeFileExt(FLocalFileName, u".~wdn"); }

void TKtWebDirect::SetParentControl(TWinControl* v) {
  if (v == FParentControl) return;
  if (FParentControl) RemoveFreeNotification(FParentControl);
  FParentControl = v;
  if (FParentControl) FreeNotification(FParentControl);
}

void TKtWebDirect::Notification(TComponent* AComponent, TOperation Operation) {
  TKtCustomWebUpdater::Notification(AComponent, Operation);
  // The embedded dialog went with its parent already; only the reference is left to drop.
  if (Operation == opRemove && AComponent == FParentControl) FParentControl = nullptr;
}

bool TKtWebDirect::Execute() {
  const String dir = ExtractFileDir(FLocalFileName);
  if (!dir.empty() && !DirectoryExists(dir)) ForceDirectories(dir);
  if (FileExists(FLocalFileName)) CopyFile(FLocalFileName, BackupFileName(), false);
  const bool result = TKtCustomWebUpdater::Execute();
  if (FShowMode == omAlways || (FShowMode == omIfChanged && result && Status() == isFinished)) InternalShow(true);
  return result;
}

void TKtWebDirect::Show() { InternalShow(false); }

void TKtWebDirect::ShowModal() { InternalShow(true); }

void TKtWebDirect::InternalShow(bool modal) {
  // One dialog at a time: an earlier one is closed first, so nothing refers to a stale tree.
  if (frm) {
    if (frm->Modal()) throw EInvalidOperation("The news dialog is already shown modally");
    delete frm;
  }
  const bool backupPresent = FileExists(BackupFileName());
  FImageList = nullptr;
  tree = nullptr;

  frm = new TForm(this);
  try {
    if (FParentControl) {
      frm->SetParent(FParentControl);
      frm->SetAlign(alClient);
      frm->SetBorderStyle(bsNone);
      frm->SetPosition(poDefault);
      frm->SetWindowState(wsMaximized);
      frm->SetBounds(0, 0, FParentControl->ClientWidth(), FParentControl->ClientHeight());
    } else {
      frm->SetCaption(FTitle);
      frm->SetBorderStyle(bsSizeable);
      frm->SetPosition(poScreenCenter);
      frm->SetWidth(460);
      frm->SetHeight(320);
    }
    frm->OnDestroy = [this](TObject* Sender) { DialogDestroy(Sender); };
    frm->OnClose = [this](TObject* Sender, TCloseAction& Action) { DialogClose(Sender, Action); };

    FImageList = new TImageList(nullptr);
    for (const char16_t* name : {u"DIRECT_OLD", u"DIRECT_NEW"}) {
      TBitmap bitmap;
      bitmap.LoadFromBytes(NewsImageBitmap(name));
      bitmap.SetDescription(name == String(u"DIRECT_NEW") ? u"blue ball" : u"yellow ball");
      bitmap.SetGlyph(name == String(u"DIRECT_NEW") ? u"*" : u" ");
      bitmap.SetTransparent(true);  // white around the ball
      if (FImageList->Count() == 0) {
        FImageList->SetWidth(bitmap.Width());
        FImageList->SetHeight(bitmap.Height());
      }
      FImageList->Add(&bitmap);
    }

    tree = new TKtITreeView(frm);
    tree->SetName(u"tree");
    tree->SetParent(frm);
    tree->SetAlign(alClient);
    tree->SetBounds(0, 0, frm->ClientWidth(), frm->ClientHeight());
    tree->SetImages(FImageList);
    tree->SetReadOnly(true);
    tree->OnClick = [this](TObject* Sender) { TreeClick(Sender); };
    TTreeNodes* items = tree->Items();
    items->BeginUpdate();
    struct EndUpdate {
      TTreeNodes* n;
      ~EndUpdate() { n->EndUpdate(); }
    } endUpdate{items};

    TIniFile news(FLocalFileName);
    std::unique_ptr<TIniFile> backup;
    if (backupPresent) backup = std::make_unique<TIniFile>(BackupFileName());
    TStringList sections, keys;
    news.ReadSections(&sections);
    for (int s = 0; s < sections.Count(); ++s) {
      const String section = sections[s];
      TTreeNode* group = items->AddChild(nullptr, section);
      group->SetImageIndex(0);
      group->SetSelectedIndex(0);
      news.ReadSection(section, &keys);
      for (int k = 0; k < keys.Count(); ++k) {
        const String key = keys[k];
        auto data = std::make_unique<TKtINodeData>();
        data->Url = key;
        TTreeNode* entry = items->AddChildObject(group, news.ReadString(section, key, String()), data.get());
        data.release();
        // Only the same section of the backup counts: an entry moved elsewhere is news again.
        const bool isNew = !backup || backup->ReadString(section, key, String()).empty();
        entry->SetImageIndex(isNew ? 1 : 0);
        entry->SetSelectedIndex(isNew ? 1 : 0);
        if (isNew) tree->SetItemState(entry, TVIS_BOLD, TVIS_BOLD | TVIS_CUT);
      }
    }
    if (items->Count() > 0) {
      tree->FullExpand();
      tree->SetSelected(items->GetFirstNode());
      items->GetFirstNode()->MakeVisible();
    }
  } catch (...) {
    delete frm;
    throw;
  }

  if (!modal || FParentControl) {
    frm->Show();
    return;
  }
  frm->ShowModal();
  // The modal loop is over: the dialog closes as a window closed by the person would, and
  // frees itself at the next pump (until then the built tree can still be read).
  if (frm) {
    TCloseAction action = caHide;
    if (frm->OnClose) frm->OnClose(frm, action);
    if (action == caFree) frm->Release();
  }
}

void TKtWebDirect::TreeClick(TObject* Sender) {
  auto* view = dynamic_cast<TKtITreeView*>(Sender);
  if (!view || !view->Selected()) return;
  auto* data = dynamic_cast<TKtINodeData*>(view->Selected()->Data());
  if (!data) return;  // a group heading
  if (!IsBrowserLink(data->Url)) {
    MessageDlg(u"The link \"" + ShownLink(data->Url) +
                   u"\" was not opened: only http, https, ftp and mailto links are opened from the news.",
               mtWarning, {mbOK});
    return;
  }
  // Whether the opener could show the link is the desktop's business: nothing is reported.
  ShellExecuteW(nullptr, u"open", data->Url, String(), String(), SW_SHOWNORMAL);
}

void TKtWebDirect::DialogClose(TObject*, TCloseAction& Action) { Action = caFree; }

void TKtWebDirect::DialogDestroy(TObject* Sender) {
  auto* form = dynamic_cast<TForm*>(Sender);
  TKtITreeView* view = nullptr;
  if (form)
    for (int i = 0; i < form->ComponentCount() && !view; ++i) view = dynamic_cast<TKtITreeView*>(form->Components(i));
  if (view) {
    std::vector<TTreeNode*> nodes;
    for (TTreeNode* n = view->Items()->GetFirstNode(); n; n = n->GetNext()) nodes.push_back(n);
    for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) {
      delete dynamic_cast<TKtINodeData*>((*it)->Data());
      (*it)->SetData(nullptr);
    }
  }
  if (form != frm) return;
  if (tree) tree->SetImages(nullptr);
  delete FImageList;
  FImageList = nullptr;
  frm = nullptr;
  tree = nullptr;
}

const TClassInfo* TKtWebDirect::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtWebDirect>(u"TKtWebDirect", TKtCustomWebUpdater::StaticClassInfo())
      .Component()
      .Property(u"ShowMode", &TKtWebDirect::ShowMode, &TKtWebDirect::SetShowMode).Default(omAlways)
      .Property(u"Title", &TKtWebDirect::Title, &TKtWebDirect::SetTitle)
      .Property(u"ParentControl", &TKtWebDirect::ParentControl, &TKtWebDirect::SetParentControl)
      .Build();
  return info;
}

}  // namespace ktinet
