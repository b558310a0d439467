// Labels, edits and buttons.
#pragma once

#include "vcl/Controls.h"

namespace ktinet {

enum TTextLayout { tlTop, tlCenter, tlBottom };

class TLabel : public TControl {
 public:
  explicit TLabel(TComponent* AOwner);

  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment v);
  // With AutoSize the label takes the size of its text; the suite's forms turn it off.
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool v) { FAutoSize = v; }
  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool v) { FTransparent = v; }
  bool WordWrap() const { return FWordWrap; }
  void SetWordWrap(bool v);
  TTextLayout Layout() const { return FLayout; }
  void SetLayout(TTextLayout v) { FLayout = v; }
  // The windowed control this label names; text backends use it as the prompt of that control.
  TWinControl* FocusControl() const { return FFocusControl; }
  void SetFocusControl(TWinControl* c) { FFocusControl = c; }

 private:
  TAlignment FAlignment = taLeftJustify;
  bool FAutoSize = true;
  bool FTransparent = false;
  bool FWordWrap = false;
  TTextLayout FLayout = tlTop;
  TWinControl* FFocusControl = nullptr;
};

class TEdit : public TWinControl {
 public:
  explicit TEdit(TComponent* AOwner);

  void SetText(const String& value) override;
  // 0: the text shows as typed; otherwise every character shows as this one.
  Char PasswordChar() const { return FPasswordChar; }
  void SetPasswordChar(Char c);
  // Ours: a text backend never echoes or prints a secret edit's text, whatever its
  // PasswordChar (a terminal keeps what it showed in its scroll-back).
  bool Secret() const { return FSecret || FPasswordChar != 0; }
  void SetSecret(bool v) { FSecret = v; }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool v) { FReadOnly = v; }
  int MaxLength() const { return FMaxLength; }  // 0: no limit
  void SetMaxLength(int v) { FMaxLength = v; }

  TNotifyEvent OnChange;

 private:
  Char FPasswordChar = 0;
  bool FSecret = false;
  bool FReadOnly = false;
  int FMaxLength = 0;
};

class TButton : public TWinControl {
 public:
  explicit TButton(TComponent* AOwner);

  // Sets the form's modal result to ModalResult (when not mrNone), then fires OnClick,
  // so a handler may still change the result.
  void Click() override;
  TModalResult ModalResult() const { return FModalResult; }
  void SetModalResult(TModalResult v) { FModalResult = v; }
  // The button Enter presses on its form.
  bool Default() const { return FDefault; }
  void SetDefault(bool v) { FDefault = v; }
  // The button Escape presses on its form.
  bool Cancel() const { return FCancel; }
  void SetCancel(bool v) { FCancel = v; }

 private:
  TModalResult FModalResult = mrNone;
  bool FDefault = false;
  bool FCancel = false;
};

// The key a caption marks with "&" ("&OK" -> 'O'), 0 when none; "&&" is a literal "&".
Char AcceleratorOf(const String& caption);
// The caption as shown: "&" markers removed, "&&" shown as "&".
String StripAccelerator(const String& caption);

}  // namespace ktinet
