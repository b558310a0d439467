#include "vcl/Forms.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "vcl/StdCtrls.h"
#include "vcl/UiBackend.h"

namespace ktinet {

// ---- TForm ----------------------------------------------------------------------------------

TForm::TForm(TComponent* AOwner) : TWinControl(AOwner), FIcon(std::make_unique<TIcon>()) {
  FIcon->OnChange = [this](TObject*) { Invalidate(); };
  // A form is created hidden; Show or ShowModal presents it.
  SetVisibleQuietly(false);
  SetBounds(0, 0, 320, 240);
  FColor = clBtnFace;
}

TForm::~TForm() {
  if (Application) Application->CancelRelease(this);
  if (Visible()) {
    SetVisibleQuietly(false);
    if (!FModal) CurrentBackend().FormHidden(*this);
  }
  if (OnDestroy) OnDestroy(this);
}

TModalResult TForm::ShowModal() {
  if (Visible() || FModal) throw EInvalidOperation("Cannot make a visible window modal");
  FModalResult = mrNone;
  FModal = true;
  SetVisibleQuietly(true);
  struct Restore {
    TForm* f;
    ~Restore() {
      f->SetVisibleQuietly(false);
      f->FModal = false;
    }
  } restore{this};
  if (OnShow) OnShow(this);
  TModalResult result = CurrentBackend().ShowModal(*this);
  // Whatever a backend says, a modal form never ends with "no result".
  if (result == mrNone) result = mrCancel;
  FModalResult = result;
  if (OnHide) OnHide(this);
  return result;
}

void TForm::SetVisible(bool value) {
  if (value == Visible()) return;
  if (FModal) {
    // Hiding a modal form ends its modal loop, as closing it does.
    if (!value && FModalResult == mrNone) FModalResult = mrCancel;
    return;
  }
  if (Parent()) {
    // Embedded in another form: that form redraws.
    TControl::SetVisible(value);
    return;
  }
  SetVisibleQuietly(value);
  if (value) {
    if (OnShow) OnShow(this);
    CurrentBackend().FormShown(*this);
  } else {
    CurrentBackend().FormHidden(*this);
    if (OnHide) OnHide(this);
  }
}

void TForm::SetIcon(const TIcon* v) { FIcon->Assign(v); }

void TForm::Close() {
  if (FModal) {
    FModalResult = mrCancel;
    return;
  }
  TCloseAction action = caHide;
  if (OnClose) OnClose(this, action);
  switch (action) {
    case caNone: break;
    case caHide: Hide(); break;
    case caMinimize: FWindowState = wsMinimized; break;
    case caFree:
      Hide();
      Release();
      break;
  }
}

void TForm::Release() { Application->ScheduleRelease(this); }

TControl* TForm::FindControl(const String& name) const {
  return dynamic_cast<TControl*>(FindComponent(name));
}

namespace {

// Whether the form itself is shown does not matter: the button is the one Enter or
// Escape would press once it is.
TButton* FindButton(const TWinControl* parent, bool (TButton::*flag)() const) {
  for (int i = 0; i < parent->ControlCount(); ++i) {
    TControl* c = parent->Controls(i);
    if (!c->Visible() || !c->Enabled()) continue;
    if (auto* b = dynamic_cast<TButton*>(c); b && (b->*flag)()) return b;
    if (auto* w = dynamic_cast<TWinControl*>(c))
      if (TButton* found = FindButton(w, flag)) return found;
  }
  return nullptr;
}

}  // namespace

TButton* TForm::DefaultButton() const { return FindButton(this, &TButton::Default); }
TButton* TForm::CancelButton() const { return FindButton(this, &TButton::Cancel); }

// ---- TApplication ---------------------------------------------------------------------------

namespace {

String ExecutableTitle() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return u"ktinet";
  std::string path(buf, static_cast<size_t>(n));
  std::string name = path.substr(path.rfind('/') + 1);
  auto dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return UTF8ToString(name);
}

}  // namespace

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner), FTitle(ExecutableTitle()) {}

TApplication::~TApplication() {
  std::vector<TForm*> released;
  released.swap(FReleased);
  for (TForm* f : released) delete f;
}

void TApplication::ProcessMessages() {
  ++FPumpCount;
  CurrentBackend().ProcessMessages();
  // A hook may add or remove hooks; run those present when the pump began.
  auto hooks = FHooks;
  for (auto& hook : hooks) {
    int id = hook.first;
    bool stillThere = std::any_of(FHooks.begin(), FHooks.end(), [id](const auto& h) { return h.first == id; });
    if (stillThere && hook.second) hook.second();
  }
  std::vector<TForm*> released;
  released.swap(FReleased);
  for (TForm* f : released) delete f;
}

void TApplication::Run() {
  while (!FTerminated) {
    ProcessMessages();
    if (FTerminated) break;
    // Short naps keep a timer's lateness small without spinning a core.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int TApplication::AddPumpHook(TIdleCheck check) {
  int id = FNextHook++;
  FHooks.emplace_back(id, std::move(check));
  return id;
}

void TApplication::RemovePumpHook(int id) {
  FHooks.erase(std::remove_if(FHooks.begin(), FHooks.end(), [&](const auto& h) { return h.first == id; }), FHooks.end());
}

TModalResult TApplication::MessageBox(const String& text, const String& caption) {
  TMessageRequest request;
  request.Caption = caption.empty() ? FTitle : caption;
  request.Text = text;
  request.DlgType = mtCustom;
  request.Buttons = {mbOK};
  return CurrentBackend().MessageBox(request);
}

void TApplication::ScheduleRelease(TForm* form) {
  if (std::find(FReleased.begin(), FReleased.end(), form) == FReleased.end()) FReleased.push_back(form);
}

void TApplication::CancelRelease(TForm* form) {
  FReleased.erase(std::remove(FReleased.begin(), FReleased.end(), form), FReleased.end());
}

// Never destroyed: forms and backends may still refer to it while the process exits.
TApplication* Application = new TApplication(nullptr);

}  // namespace ktinet
