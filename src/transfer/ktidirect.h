// TKtWebDirect: keeps an application's news file up to date and shows it as a tree of links.
//
// The news file is an INI file: each section is a group heading, each entry "link=caption" one
// news item. Before every Execute the current copy becomes the ".~wdn" backup; entries missing
// (or empty) in the backup's same section are new and are drawn bold with the blue marker.
// Choosing an entry opens its link with the desktop's opener, when it is an http, https, ftp or
// mailto link; any other (a file: link, a bare path) is refused with a warning box.
#pragma once

#include "transfer/ktiupdate.h"
#include "vcl/Forms.h"
#include "vcl/ImgList.h"
#include "vcl/TreeView.h"
#include "rtl/TypInfo.h"

namespace ktinet {

enum TKtIShowMode { omAlways, omNever, omIfChanged };
KTINET_ENUM_TYPE(TKtIShowMode, u"omAlways", u"omNever", u"omIfChanged")

// The link of one news entry, attached to its tree node and freed with the dialog.
class TKtINodeData : public TObject {
 public:
  String Url;
};

// A tree view that highlights the item under the mouse like a hyperlink.
class TKtITreeView : public TTreeView {
 public:
  explicit TKtITreeView(TComponent* AOwner);
};

class TKtWebDirect : public TKtCustomWebUpdater {
  KTINET_PUBLISHED(TKtWebDirect)
 public:
  explicit TKtWebDirect(TComponent* AOwner);
  ~TKtWebDirect() override;

  // Backs up the news file, brings it up to date and shows the tree as ShowMode asks.
  bool Execute() override;
  // The tree from the news file as it is, without downloading: modelessly, or modally (which
  // returns at once when the tree is embedded in ParentControl).
  void Show();
  void ShowModal();

  TKtIShowMode ShowMode() const { return FShowMode; }
  void SetShowMode(TKtIShowMode v) { FShowMode = v; }
  const String& Title() const { return FTitle; }
  void SetTitle(const String& v) { FTitle = v; }
  TWinControl* ParentControl() const { return FParentControl; }
  void SetParentControl(TWinControl* v);

  // Where the news file lives: beside the executable (its name with ".wdn") when that
  // directory is writable, otherwise $XDG_DATA_HOME (~/.local/share)/<executable name>/.
  const String& NewsFileName() const { return FLocalFileName; }
  // The previous copy, NewsFileName with ".~wdn".
  String BackupFileName() const;

  // The dialog while it exists (null otherwise), and its tree and image list.
  TForm* Form() const { return frm; }
  TKtITreeView* Tree() const { return tree; }
  TImageList* ImageList() const { return FImageList; }

  // The news file for an executable at `exePath` (the rule of NewsFileName); the second form
  // is told whether the executable's directory is writable instead of asking the system.
  static String NewsFileFor(const String& exePath);
  static String NewsFileFor(const String& exePath, bool besideWritable);
  // Whether a click hands `url` to the opener: its scheme is http, https, ftp or mailto (in any
  // case), the schemes a browser follows by itself.
  static bool IsBrowserLink(const String& url);

 protected:
  void TreeClick(TObject* Sender);
  void DialogDestroy(TObject* Sender);
  void DialogClose(TObject* Sender, TCloseAction& Action);
  virtual void InternalShow(bool modal);
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  String FTitle;
  TForm* frm = nullptr;
  TKtITreeView* tree = nullptr;
  TImageList* FImageList = nullptr;
  TKtIShowMode FShowMode = omAlways;
  TWinControl* FParentControl = nullptr;
};

// The two 16 x 16 markers of the news tree as BMP files: "DIRECT_OLD" (a yellow ball) and
// "DIRECT_NEW" (a blue ball), white around the ball (the transparent colour).
std::string NewsImageBitmap(const String& resourceName);

}  // namespace ktinet
