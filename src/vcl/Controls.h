// TControl and TWinControl: the part of the framework's control model that the
// suite's forms use. Controls are owned like components (the form owns what its
// designer created) and sit in a parent's list of children for presentation.
#pragma once

#include <vector>

#include "rtl/Classes.h"
#include "vcl/Graphics.h"

namespace ktinet {

// A help context number, as the framework stores it.
using THelpContext = Integer;

// Modal results: what closed a modal form or a message box.
using TModalResult = int;
constexpr TModalResult mrNone = 0;
constexpr TModalResult mrOk = 1;
constexpr TModalResult mrCancel = 2;
constexpr TModalResult mrAbort = 3;
constexpr TModalResult mrRetry = 4;
constexpr TModalResult mrIgnore = 5;
constexpr TModalResult mrYes = 6;
constexpr TModalResult mrNo = 7;
constexpr TModalResult mrClose = 8;
constexpr TModalResult mrHelp = 9;
constexpr TModalResult mrTryAgain = 10;
constexpr TModalResult mrContinue = 11;
constexpr TModalResult mrAll = 12;
constexpr TModalResult mrNoToAll = 13;
constexpr TModalResult mrYesToAll = 14;

// "OK", "Cancel", ... ("None" for mrNone, the number for anything unknown).
String ModalResultName(TModalResult result);

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient, alCustom };
enum TAlignment { taLeftJustify, taRightJustify, taCenter };

class TWinControl;
class TForm;

class TControl : public TComponent {
 public:
  explicit TControl(TComponent* AOwner);
  ~TControl() override;

  TWinControl* Parent() const { return FParent; }
  // Moves the control into `parent`'s children (null takes it out of any).
  virtual void SetParent(TWinControl* parent);

  // Caption and Text are one value, as in the framework (labels and buttons call it
  // Caption, edits and forms call it Text or Caption).
  const String& Caption() const { return FText; }
  void SetCaption(const String& value) { SetText(value); }
  const String& Text() const { return FText; }
  virtual void SetText(const String& value);

  int Left() const { return FLeft; }
  int Top() const { return FTop; }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  void SetLeft(int v) { SetBounds(v, FTop, FWidth, FHeight); }
  void SetTop(int v) { SetBounds(FLeft, v, FWidth, FHeight); }
  void SetWidth(int v) { SetBounds(FLeft, FTop, v, FHeight); }
  void SetHeight(int v) { SetBounds(FLeft, FTop, FWidth, v); }
  virtual void SetBounds(int left, int top, int width, int height);
  // The client area; for plain controls it is the whole control.
  virtual int ClientWidth() const { return FWidth; }
  virtual int ClientHeight() const { return FHeight; }

  bool Visible() const { return FVisible; }
  virtual void SetVisible(bool value);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  bool Enabled() const { return FEnabled; }
  virtual void SetEnabled(bool value);
  // Visible and enabled here and in every parent: what a person can reach.
  bool Showing() const;
  bool CanInteract() const;

  TAlign Align() const { return FAlign; }
  void SetAlign(TAlign value);
  const TFont& Font() const { return FFont; }
  void SetFont(const TFont& value);
  TColor Color() const { return FColor; }
  void SetColor(TColor value);
  const String& Hint() const { return FHint; }
  void SetHint(const String& value) { FHint = value; }

  // What a click does: fires OnClick (buttons also set their form's modal result).
  virtual void Click();
  TNotifyEvent OnClick;

  // Tells the backend that something a person sees has changed, so a form shown
  // modelessly is redrawn at the next chance.
  void Invalidate();

 protected:
  // Changes Visible without telling the backend (a top-level form reports its own
  // showing and hiding).
  void SetVisibleQuietly(bool value) { FVisible = value; }
  TFont FFont;
  TColor FColor = clBtnFace;

 private:
  friend class TWinControl;
  TWinControl* FParent = nullptr;
  String FText;
  int FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
  bool FVisible = true;
  bool FEnabled = true;
  TAlign FAlign = alNone;
  String FHint;
};

// A control that holds other controls and takes part in tab order.
class TWinControl : public TControl {
 public:
  explicit TWinControl(TComponent* AOwner);
  ~TWinControl() override;

  int ControlCount() const { return static_cast<int>(FControls.size()); }
  TControl* Controls(int index) const;

  // Position among the parent's windowed children when Tab moves the focus.
  int TabOrder() const;
  void SetTabOrder(int value);
  bool TabStop() const { return FTabStop; }
  void SetTabStop(bool value) { FTabStop = value; }
  // This control's windowed children in tab order.
  std::vector<TWinControl*> TabList() const { return FTabList; }

 private:
  friend class TControl;
  void InsertControl(TControl* c);
  void RemoveControl(TControl* c);
  std::vector<TControl*> FControls;
  std::vector<TWinControl*> FTabList;
  bool FTabStop = false;
};

// The form a control sits on, walking up its parents (null when there is none).
TForm* GetParentForm(const TControl* control);

}  // namespace ktinet
