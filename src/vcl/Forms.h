// TForm and TApplication. A form is an ordinary object with named controls; the
// current UiBackend presents it (a window, a terminal prompt, a test script).
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "vcl/Controls.h"

namespace ktinet {

enum TPosition {
  poDesigned, poDefault, poDefaultPosOnly, poDefaultSizeOnly,
  poScreenCenter, poDesktopCenter, poMainFormCenter, poOwnerFormCenter
};
enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TWindowState { wsNormal, wsMinimized, wsMaximized };
enum TCloseAction { caNone, caHide, caFree, caMinimize };
using TCloseEvent = std::function<void(TObject* Sender, TCloseAction& Action)>;

class TButton;
class TIcon;

class TForm : public TWinControl {
 public:
  explicit TForm(TComponent* AOwner);
  ~TForm() override;

  // The form's caption is its Text.
  TPosition Position() const { return FPosition; }
  void SetPosition(TPosition v) { FPosition = v; }
  TFormBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TFormBorderStyle v) { FBorderStyle = v; }
  TWindowState WindowState() const { return FWindowState; }
  void SetWindowState(TWindowState v) { FWindowState = v; }
  // The stand-in has no window frame: the client area is the whole form.
  void SetClientWidth(int v) { SetWidth(v); }
  void SetClientHeight(int v) { SetHeight(v); }

  // The window's icon (owned; an empty one means the application's).
  TIcon* Icon() const { return FIcon.get(); }
  // Copies `v` into the owned icon.
  void SetIcon(const TIcon* v);

  // Setting a result other than mrNone while the form is shown modally ends ShowModal.
  TModalResult ModalResult() const { return FModalResult; }
  void SetModalResult(TModalResult v) { FModalResult = v; }

  // Shows the form through the backend and returns how it was closed. The backend
  // returns mrCancel when the person closes the window or presses Escape.
  virtual TModalResult ShowModal();
  bool Modal() const { return FModal; }
  // Modeless presentation: Show/Hide through Visible.
  void SetVisible(bool value) override;
  // Asks OnClose; a modal form then ends with mrCancel, a modeless one hides (caHide)
  // or is deleted at the next ProcessMessages (caFree).
  void Close();
  // Deletes the form at the next Application->ProcessMessages (safe from its own handlers).
  void Release();

  // The control of this name among those the form owns (null when there is none).
  TControl* FindControl(const String& name) const;
  // The visible, enabled buttons that Enter and Escape press (null when there is none).
  TButton* DefaultButton() const;
  TButton* CancelButton() const;

  TNotifyEvent OnShow;
  TNotifyEvent OnHide;
  TCloseEvent OnClose;
  TNotifyEvent OnDestroy;

 private:
  TPosition FPosition = poDesigned;
  TFormBorderStyle FBorderStyle = bsSizeable;
  TWindowState FWindowState = wsNormal;
  TModalResult FModalResult = mrNone;
  bool FModal = false;
  std::unique_ptr<TIcon> FIcon;
};

// The application object: title, the message pump and forms waiting for release.
class TApplication : public TComponent {
 public:
  explicit TApplication(TComponent* AOwner);
  ~TApplication() override;

  // Defaults to the executable's name without extension; message boxes show it as caption.
  const String& Title() const { return FTitle; }
  void SetTitle(const String& v) { FTitle = v; }

  // Runs the backend's input pump once (without blocking), the due timers, and
  // deletes released forms. Transfers call it between blocks so a shown window
  // stays live and its Cancel button gets through.
  void ProcessMessages();
  // Runs the loop until Terminate: input, due timers and released forms, waiting
  // a few milliseconds between rounds instead of spinning.
  void Run();
  // Ends Run (at once when called from inside it, else the next Run returns at once).
  void Terminate() { FTerminated = true; }
  bool Terminated() const { return FTerminated; }
  // Ours: lets Run be used again after Terminate.
  void ResetTerminated() { FTerminated = false; }

  // How many times ProcessMessages ran (tests and diagnostics).
  unsigned long long PumpCount() const { return FPumpCount; }

  // Timers register a check that runs on every pump; the returned id removes it.
  using TIdleCheck = std::function<void()>;
  int AddPumpHook(TIdleCheck check);
  void RemovePumpHook(int id);

  // Shows a message box with `caption` (the Title when empty); returns the modal result.
  TModalResult MessageBox(const String& text, const String& caption);

 private:
  friend class TForm;
  void ScheduleRelease(TForm* form);
  void CancelRelease(TForm* form);
  String FTitle;
  unsigned long long FPumpCount = 0;
  std::vector<TForm*> FReleased;
  std::vector<std::pair<int, TIdleCheck>> FHooks;
  int FNextHook = 1;
  bool FTerminated = false;
};

// The process's application object (never null).
extern TApplication* Application;

}  // namespace ktinet
