#include "vcl/Controls.h"

#include <algorithm>

#include "vcl/Forms.h"
#include "vcl/UiBackend.h"

namespace ktinet {

String ModalResultName(TModalResult result) {
  switch (result) {
    case mrNone: return u"None";
    case mrOk: return u"OK";
    case mrCancel: return u"Cancel";
    case mrAbort: return u"Abort";
    case mrRetry: return u"Retry";
    case mrIgnore: return u"Ignore";
    case mrYes: return u"Yes";
    case mrNo: return u"No";
    case mrClose: return u"Close";
    case mrHelp: return u"Help";
    case mrTryAgain: return u"Try Again";
    case mrContinue: return u"Continue";
    case mrAll: return u"All";
    case mrNoToAll: return u"No to All";
    case mrYesToAll: return u"Yes to All";
    default: return UTF8ToString(std::to_string(result));
  }
}

// ---- TControl -------------------------------------------------------------------------------

TControl::TControl(TComponent* AOwner) : TComponent(AOwner) {}

TControl::~TControl() {
  if (FParent) FParent->RemoveControl(this);
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == FParent) return;
  for (TWinControl* p = parent; p; p = p->Parent())
    if (p == this) throw EInvalidOperation("A control cannot have itself as its parent");
  if (FParent) FParent->RemoveControl(this);
  if (parent) parent->InsertControl(this);
  Invalidate();
}

void TControl::SetText(const String& value) {
  if (value == FText) return;
  FText = value;
  Invalidate();
}

void TControl::SetBounds(int left, int top, int width, int height) {
  if (left == FLeft && top == FTop && width == FWidth && height == FHeight) return;
  FLeft = left;
  FTop = top;
  FWidth = width;
  FHeight = height;
  Invalidate();
}

void TControl::SetVisible(bool value) {
  if (value == FVisible) return;
  FVisible = value;
  Invalidate();
}

void TControl::SetEnabled(bool value) {
  if (value == FEnabled) return;
  FEnabled = value;
  Invalidate();
}

bool TControl::Showing() const {
  for (const TControl* c = this; c; c = c->FParent)
    if (!c->FVisible) return false;
  return true;
}

bool TControl::CanInteract() const {
  for (const TControl* c = this; c; c = c->FParent)
    if (!c->FVisible || !c->FEnabled) return false;
  return true;
}

void TControl::SetAlign(TAlign value) {
  if (value == FAlign) return;
  FAlign = value;
  Invalidate();
}

void TControl::SetFont(const TFont& value) {
  if (value == FFont) return;
  FFont = value;
  Invalidate();
}

void TControl::SetColor(TColor value) {
  if (value == FColor) return;
  FColor = value;
  Invalidate();
}

void TControl::Click() {
  if (OnClick) OnClick(this);
}

void TControl::Invalidate() {
  // Only a form shown modelessly needs telling: a modal one is being driven by the
  // backend itself, and a hidden one is drawn afresh when it is shown.
  if (ComponentState() & csDestroying) return;
  TForm* form = GetParentForm(this);
  if (form && form->Visible() && !form->Modal() && !(form->ComponentState() & csDestroying))
    CurrentBackend().FormChanged(*form);
}

// ---- TWinControl ----------------------------------------------------------------------------

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {}

TWinControl::~TWinControl() {
  // As in the framework, a windowed control takes its children with it; each child
  // leaves this list (and its owner's) as it goes.
  while (!FControls.empty()) {
    TControl* c = FControls.back();
    delete c;
  }
  // Leave the parent's tab list while this is still a whole TWinControl.
  if (TWinControl* p = Parent()) p->FTabList.erase(std::remove(p->FTabList.begin(), p->FTabList.end(), this), p->FTabList.end());
}

TControl* TWinControl::Controls(int index) const {
  if (index < 0 || index >= ControlCount())
    throw EListError(u"List index out of bounds (" + UTF8ToString(std::to_string(index)) + u")");
  return FControls[static_cast<size_t>(index)];
}

int TWinControl::TabOrder() const {
  if (!Parent()) return 0;
  const auto& list = Parent()->FTabList;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

void TWinControl::SetTabOrder(int value) {
  if (!Parent()) return;
  auto& list = Parent()->FTabList;
  auto it = std::find(list.begin(), list.end(), this);
  if (it == list.end()) return;
  list.erase(it);
  // Out-of-range values put the control last, as the framework does.
  size_t pos = value < 0 || static_cast<size_t>(value) > list.size() ? list.size() : static_cast<size_t>(value);
  list.insert(list.begin() + static_cast<std::ptrdiff_t>(pos), this);
}

void TWinControl::InsertControl(TControl* c) {
  FControls.push_back(c);
  c->FParent = this;
  if (auto* w = dynamic_cast<TWinControl*>(c)) FTabList.push_back(w);
}

void TWinControl::RemoveControl(TControl* c) {
  FControls.erase(std::remove(FControls.begin(), FControls.end(), c), FControls.end());
  FTabList.erase(std::remove(FTabList.begin(), FTabList.end(), c), FTabList.end());
  c->FParent = nullptr;
}

TForm* GetParentForm(const TControl* control) {
  const TControl* c = control;
  while (c && c->Parent()) c = c->Parent();
  return const_cast<TForm*>(dynamic_cast<const TForm*>(c));
}

}  // namespace ktinet
