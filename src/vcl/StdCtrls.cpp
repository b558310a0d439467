#include "vcl/StdCtrls.h"

#include "vcl/Forms.h"

namespace ktinet {

TLabel::TLabel(TComponent* AOwner) : TControl(AOwner) {
  SetBounds(0, 0, 65, 13);
  FColor = clBtnFace;
}

void TLabel::SetAlignment(TAlignment v) {
  if (v == FAlignment) return;
  FAlignment = v;
  Invalidate();
}

void TLabel::SetWordWrap(bool v) {
  if (v == FWordWrap) return;
  FWordWrap = v;
  Invalidate();
}

TEdit::TEdit(TComponent* AOwner) : TWinControl(AOwner) {
  SetBounds(0, 0, 121, 21);
  SetTabStop(true);
  FColor = clWindow;
}

void TEdit::SetText(const String& value) {
  String text = value;
  // A typed or pasted text stops at MaxLength; so does one set by the program.
  if (FMaxLength > 0 && text.size() > static_cast<size_t>(FMaxLength)) text.resize(static_cast<size_t>(FMaxLength));
  if (text == Text()) return;
  TWinControl::SetText(text);
  if (OnChange) OnChange(this);
}

void TEdit::SetPasswordChar(Char c) {
  if (c == FPasswordChar) return;
  FPasswordChar = c;
  Invalidate();
}

TButton::TButton(TComponent* AOwner) : TWinControl(AOwner) {
  SetBounds(0, 0, 75, 25);
  SetTabStop(true);
}

void TButton::Click() {
  if (FModalResult != mrNone)
    if (TForm* form = GetParentForm(this)) form->SetModalResult(FModalResult);
  TWinControl::Click();
}

Char AcceleratorOf(const String& caption) {
  for (size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != u'&') continue;
    if (caption[i + 1] == u'&') {
      ++i;
      continue;
    }
    Char c = caption[i + 1];
    return c >= u'a' && c <= u'z' ? static_cast<Char>(c - 32) : c;
  }
  return 0;
}

String StripAccelerator(const String& caption) {
  String out;
  for (size_t i = 0; i < caption.size(); ++i) {
    // "&x" shows x (so "&&" shows "&"); a lone "&" at the end shows as itself.
    if (caption[i] == u'&' && i + 1 < caption.size()) ++i;
    out.push_back(caption[i]);
  }
  return out;
}

}  // namespace ktinet
