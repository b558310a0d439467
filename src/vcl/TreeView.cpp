#include "vcl/TreeView.h"

#include <algorithm>

namespace ktinet {

namespace {

[[noreturn]] void IndexError(int index) {
  throw EListError(u"List index out of bounds (" + UTF8ToString(std::to_string(index)) + u")");
}

// Nodes in the subtree of `node`, itself included.
int SubtreeSize(const TTreeNode* node) {
  int n = 1;
  for (int i = 0; i < node->Count(); ++i) n += SubtreeSize(node->Item(i));
  return n;
}

}  // namespace

// ---- TTreeNode --------------------------------------------------------------------------------

void TTreeNode::Changed() { FOwner->Changed(); }

void TTreeNode::SetText(const String& v) {
  if (v == FText) return;
  FText = v;
  Changed();
}

void TTreeNode::SetImageIndex(int v) {
  if (v == FImageIndex) return;
  FImageIndex = v;
  Changed();
}

void TTreeNode::SetSelectedIndex(int v) {
  if (v == FSelectedIndex) return;
  FSelectedIndex = v;
  Changed();
}

void TTreeNode::SetBold(bool v) { FOwner->Owner()->SetItemState(this, v ? TVIS_BOLD : 0, TVIS_BOLD); }

int TTreeNode::Level() const {
  int level = 0;
  for (const TTreeNode* p = FParent; p; p = p->FParent) ++level;
  return level;
}

TTreeNode* TTreeNode::Item(int index) const {
  if (index < 0 || index >= Count()) IndexError(index);
  return FChildren[static_cast<size_t>(index)].get();
}

int TTreeNode::Index() const { return static_cast<int>(FIndex); }

int TTreeNode::AbsoluteIndex() const {
  int index = 0;
  for (const TTreeNode* n = this; n; n = n->GetPrev()) ++index;
  return index - 1;
}

void TTreeNode::SetExpanded(bool v) {
  if (v == FExpanded) return;
  FExpanded = v;
  Changed();
}

void TTreeNode::Expand(bool recurse) {
  SetExpanded(true);
  if (recurse)
    for (auto& c : FChildren) c->Expand(true);
}

void TTreeNode::Collapse(bool recurse) {
  SetExpanded(false);
  if (recurse)
    for (auto& c : FChildren) c->Collapse(true);
}

bool TTreeNode::Selected() const { return FOwner->Owner()->Selected() == this; }

void TTreeNode::MakeVisible() {
  for (TTreeNode* p = FParent; p; p = p->FParent) p->SetExpanded(true);
  TTreeView* view = FOwner->Owner();
  std::vector<TTreeNode*> visible = view->VisibleNodes();
  // The view scrolls only when the node lies above its first line; a backend that draws fewer
  // lines than the tree has keeps the rest in view itself.
  TTreeNode* top = view->TopItem();
  auto posOf = [&](TTreeNode* n) { return std::find(visible.begin(), visible.end(), n) - visible.begin(); };
  if (!top || posOf(top) > posOf(this)) view->SetTopItem(this);
}

TTreeNode* TTreeNode::GetNextSibling() const {
  const auto& siblings = FParent ? FParent->FChildren : FOwner->FRoots;
  return FIndex + 1 < siblings.size() ? siblings[FIndex + 1].get() : nullptr;
}

TTreeNode* TTreeNode::GetNext() const {
  if (!FChildren.empty()) return FChildren.front().get();
  for (const TTreeNode* n = this; n; n = n->FParent)
    if (TTreeNode* s = n->GetNextSibling()) return s;
  return nullptr;
}

TTreeNode* TTreeNode::GetPrev() const {
  if (FIndex == 0) return FParent;
  const auto& siblings = FParent ? FParent->FChildren : FOwner->FRoots;
  TTreeNode* n = siblings[FIndex - 1].get();
  while (n->HasChildren()) n = n->FChildren.back().get();
  return n;
}

TTreeView* TTreeNode::TreeView() const { return FOwner->Owner(); }

// ---- TTreeNodes -------------------------------------------------------------------------------

TTreeNode* TTreeNodes::Item(int index) const {
  if (index < 0 || index >= FCount) IndexError(index);
  TTreeNode* n = GetFirstNode();
  for (int i = 0; i < index; ++i) n = n->GetNext();
  return n;
}

TTreeNode* TTreeNodes::AddObject(TTreeNode* sibling, const String& text, TObject* data) {
  return AddChildObject(sibling ? sibling->Parent() : nullptr, text, data);
}

TTreeNode* TTreeNodes::AddChildObject(TTreeNode* parent, const String& text, TObject* data) {
  if (parent && parent->FOwner != this) throw EInvalidOperation("The parent node belongs to another tree");
  std::unique_ptr<TTreeNode> node(new TTreeNode(this));
  node->FParent = parent;
  node->FText = text;
  node->FData = data;
  TTreeNode* raw = node.get();
  auto& siblings = parent ? parent->FChildren : FRoots;
  node->FIndex = siblings.size();
  siblings.push_back(std::move(node));
  ++FCount;
  Changed();
  return raw;
}

void TTreeNodes::Delete(TTreeNode* node) {
  if (!node || node->FOwner != this) return;
  FOwner->NodeRemoving(node);
  auto& siblings = node->FParent ? node->FParent->FChildren : FRoots;
  FCount -= SubtreeSize(node);
  const size_t at = node->FIndex;
  siblings.erase(siblings.begin() + static_cast<std::ptrdiff_t>(at));
  for (size_t i = at; i < siblings.size(); ++i) siblings[i]->FIndex = i;
  Changed();
}

void TTreeNodes::Clear() {
  if (FRoots.empty()) return;
  FOwner->FSelected = nullptr;
  FOwner->FTopItem = nullptr;
  FRoots.clear();
  FCount = 0;
  Changed();
}

void TTreeNodes::BeginUpdate() { ++FUpdateCount; }

void TTreeNodes::EndUpdate() {
  if (FUpdateCount == 0) return;
  if (--FUpdateCount == 0 && FPending) {
    FPending = false;
    FOwner->Invalidate();
  }
}

void TTreeNodes::Changed() {
  if (FUpdateCount > 0) FPending = true;
  else FOwner->Invalidate();
}

// ---- TTreeView --------------------------------------------------------------------------------

TTreeView::TTreeView(TComponent* AOwner) : TWinControl(AOwner), FItems(std::make_unique<TTreeNodes>(this)) {
  SetTabStop(true);
  FColor = clWindow;
}

TTreeView::~TTreeView() {
  if (FImages) FImages->RemoveFreeNotification(this);
}

void TTreeView::SetImages(TImageList* v) {
  if (v == FImages) return;
  if (FImages) FImages->RemoveFreeNotification(this);
  FImages = v;
  if (FImages) FImages->FreeNotification(this);
  Invalidate();
}

void TTreeView::Notification(TComponent* AComponent, TOperation Operation) {
  TWinControl::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == FImages) FImages = nullptr;
}

void TTreeView::SetSelected(TTreeNode* node) {
  if (node && node->FOwner != FItems.get()) return;
  if (node == FSelected) return;
  FSelected = node;
  Invalidate();
  if (OnChange) OnChange(this, node);
}

void TTreeView::FullExpand() {
  FItems->BeginUpdate();
  for (TTreeNode* n = FItems->GetFirstNode(); n; n = n->GetNextSibling()) n->Expand(true);
  FItems->EndUpdate();
}

void TTreeView::FullCollapse() {
  FItems->BeginUpdate();
  for (TTreeNode* n = FItems->GetFirstNode(); n; n = n->GetNextSibling()) n->Collapse(true);
  FItems->EndUpdate();
}

void TTreeView::SetItemState(TTreeNode* node, unsigned state, unsigned mask) {
  if (!node || node->FOwner != FItems.get()) return;
  unsigned next = (node->FState & ~mask) | (state & mask);
  if (next == node->FState) return;
  node->FState = next;
  node->Changed();
}

void TTreeView::ClickNode(TTreeNode* node) {
  if (node) SetSelected(node);
  Click();
}

std::vector<TTreeNode*> TTreeView::VisibleNodes() const {
  std::vector<TTreeNode*> out;
  std::function<void(TTreeNode*)> walk = [&](TTreeNode* n) {
    out.push_back(n);
    if (n->Expanded())
      for (int i = 0; i < n->Count(); ++i) walk(n->Item(i));
  };
  for (TTreeNode* n = FItems->GetFirstNode(); n; n = n->GetNextSibling()) walk(n);
  return out;
}

void TTreeView::NodeRemoving(TTreeNode* node) {
  for (TTreeNode* n = FSelected; n; n = n->Parent())
    if (n == node) {
      FSelected = nullptr;
      break;
    }
  for (TTreeNode* n = FTopItem; n; n = n->Parent())
    if (n == node) {
      FTopItem = nullptr;
      break;
    }
}

}  // namespace ktinet
