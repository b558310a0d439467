// The tree view: nodes with a caption, an image and a selected image (indexes into the view's
// image list), a data pointer the application owns, and the item state bits of the common
// control (bold, cut). Presentation goes through the backend like any control on a form.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "vcl/Controls.h"
#include "vcl/ImgList.h"

namespace ktinet {

// Item states and styles of the common tree control.
constexpr unsigned TVIS_CUT = 0x0004;
constexpr unsigned TVIS_BOLD = 0x0010;
constexpr unsigned TVIF_STATE = 0x0008;
constexpr unsigned TVS_HASBUTTONS = 0x0001;
constexpr unsigned TVS_HASLINES = 0x0002;
constexpr unsigned TVS_LINESATROOT = 0x0004;
constexpr unsigned TVS_SHOWSELALWAYS = 0x0020;
constexpr unsigned TVS_TRACKSELECT = 0x0200;

class TTreeView;
class TTreeNodes;

class TTreeNode {
 public:
  TTreeNode(const TTreeNode&) = delete;
  TTreeNode& operator=(const TTreeNode&) = delete;

  const String& Text() const { return FText; }
  void SetText(const String& v);
  int ImageIndex() const { return FImageIndex; }
  void SetImageIndex(int v);
  int SelectedIndex() const { return FSelectedIndex; }
  void SetSelectedIndex(int v);
  // The application's object; the tree never frees it.
  TObject* Data() const { return FData; }
  void SetData(TObject* v) { FData = v; }
  // Item state bits (TVIS_...); Bold is TVIS_BOLD.
  unsigned State() const { return FState; }
  bool Bold() const { return (FState & TVIS_BOLD) != 0; }
  void SetBold(bool v);

  TTreeNode* Parent() const { return FParent; }
  int Level() const;
  int Count() const { return static_cast<int>(FChildren.size()); }
  bool HasChildren() const { return !FChildren.empty(); }
  // Raises EListError out of range.
  TTreeNode* Item(int index) const;
  // Position among its siblings.
  int Index() const;
  // Position in the depth-first order of the whole tree.
  int AbsoluteIndex() const;
  bool Expanded() const { return FExpanded; }
  void SetExpanded(bool v);
  void Expand(bool recurse);
  void Collapse(bool recurse);
  bool Selected() const;
  // Expands every parent so the node can be seen (and tells the view to scroll to it).
  void MakeVisible();

  // Depth-first successor over the whole tree (null after the last node).
  TTreeNode* GetNext() const;
  TTreeNode* GetPrev() const;
  TTreeNode* GetFirstChild() const { return FChildren.empty() ? nullptr : FChildren.front().get(); }
  TTreeNode* GetNextSibling() const;
  TTreeView* TreeView() const;
  TTreeNodes* Owner() const { return FOwner; }

 private:
  friend class TTreeNodes;
  friend class TTreeView;
  explicit TTreeNode(TTreeNodes* owner) : FOwner(owner) {}
  void Changed();
  TTreeNodes* FOwner;
  TTreeNode* FParent = nullptr;
  std::vector<std::unique_ptr<TTreeNode>> FChildren;
  String FText;
  int FImageIndex = -1;
  int FSelectedIndex = -1;
  TObject* FData = nullptr;
  unsigned FState = 0;
  bool FExpanded = false;
  // Position among its siblings, kept up to date so that walking siblings takes constant time
  // a step (a news group of many entries would otherwise take time growing with its square).
  size_t FIndex = 0;
};

// The nodes of one tree view, addressed in depth-first order.
class TTreeNodes {
 public:
  explicit TTreeNodes(TTreeView* owner) : FOwner(owner) {}
  TTreeNodes(const TTreeNodes&) = delete;
  TTreeNodes& operator=(const TTreeNodes&) = delete;

  TTreeView* Owner() const { return FOwner; }
  // Every node of the tree.
  int Count() const { return FCount; }
  // The node at depth-first position `index` (EListError out of range).
  TTreeNode* Item(int index) const;
  TTreeNode* GetFirstNode() const { return FRoots.empty() ? nullptr : FRoots.front().get(); }
  int RootCount() const { return static_cast<int>(FRoots.size()); }

  // A node after the last sibling of `sibling` (a top-level node when `sibling` is null).
  TTreeNode* Add(TTreeNode* sibling, const String& text) { return AddObject(sibling, text, nullptr); }
  TTreeNode* AddObject(TTreeNode* sibling, const String& text, TObject* data);
  // A node after the last child of `parent` (top level when `parent` is null).
  TTreeNode* AddChild(TTreeNode* parent, const String& text) { return AddChildObject(parent, text, nullptr); }
  TTreeNode* AddChildObject(TTreeNode* parent, const String& text, TObject* data);
  // Removes the node and its children (their data stays the application's).
  void Delete(TTreeNode* node);
  void Clear();

  // While updating, changes are collected and the view is told once at EndUpdate.
  void BeginUpdate();
  void EndUpdate();
  bool Updating() const { return FUpdateCount > 0; }

 private:
  friend class TTreeNode;
  void Changed();
  TTreeView* FOwner;
  std::vector<std::unique_ptr<TTreeNode>> FRoots;
  int FCount = 0;
  int FUpdateCount = 0;
  bool FPending = false;
};

class TTreeView : public TWinControl {
 public:
  explicit TTreeView(TComponent* AOwner);
  ~TTreeView() override;

  TTreeNodes* Items() const { return FItems.get(); }
  TImageList* Images() const { return FImages; }
  void SetImages(TImageList* v);
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool v) { FReadOnly = v; }
  // The window's TVS_... style bits.
  unsigned Style() const { return FStyle; }
  bool HotTrack() const { return (FStyle & TVS_TRACKSELECT) != 0; }
  void SetHotTrack(bool v) { FStyle = v ? (FStyle | TVS_TRACKSELECT) : (FStyle & ~TVS_TRACKSELECT); }

  TTreeNode* Selected() const { return FSelected; }
  // Selects `node` (null clears the selection) and fires OnChange when the selection moved.
  void SetSelected(TTreeNode* node);
  TTreeNode* TopItem() const { return FTopItem; }
  void SetTopItem(TTreeNode* node) { FTopItem = node; }

  void FullExpand();
  void FullCollapse();

  // The TVM_SETITEM message with TVIF_STATE: the bits of `mask` are set from `state`.
  void SetItemState(TTreeNode* node, unsigned state, unsigned mask);

  // A person clicking `node`: the click selects it, then OnClick fires (null clicks the
  // empty area below the nodes: nothing is selected anew).
  void ClickNode(TTreeNode* node);

  // The nodes a person can see now (every parent expanded), in display order.
  std::vector<TTreeNode*> VisibleNodes() const;

  using TTVChangedEvent = std::function<void(TObject* Sender, TTreeNode* Node)>;
  TTVChangedEvent OnChange;

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;
  void SetStyle(unsigned v) { FStyle = v; }

 private:
  friend class TTreeNode;
  friend class TTreeNodes;
  void NodeRemoving(TTreeNode* node);
  std::unique_ptr<TTreeNodes> FItems;
  TImageList* FImages = nullptr;
  TTreeNode* FSelected = nullptr;
  TTreeNode* FTopItem = nullptr;
  bool FReadOnly = false;
  unsigned FStyle = TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT;
};

}  // namespace ktinet
