#include "vcl/KtILogOn.h"

#include <memory>

namespace ktinet {

namespace {

template <class T>
T* Place(TForm* form, const char16_t* name, int left, int top, int width, int height) {
  T* c = new T(form);
  c->SetName(name);
  c->SetParent(form);
  c->SetBounds(left, top, width, height);
  return c;
}

}  // namespace

TfrmKtILogon::TfrmKtILogon(TComponent* AOwner) : TForm(AOwner) {
  SetName(u"frmKtILogon");
  SetBorderStyle(bsDialog);
  SetCaption(u"Enter Password");
  SetClientWidth(305);
  SetClientHeight(105);
  TFont font;
  font.Name = u"MS Sans Serif";
  font.Height = -11;
  SetFont(font);

  lblLogin = Place<TLabel>(this, u"lblLogin", 48, 12, 88, 13);
  lblLogin->SetAutoSize(false);
  lblLogin->SetAlignment(taRightJustify);
  lblLogin->SetTransparent(true);
  lblLogin->SetCaption(u"User ID:");
  lblLogin->SetFont(font);

  lblPassword = Place<TLabel>(this, u"lblPassword", 16, 37, 120, 13);
  lblPassword->SetAutoSize(false);
  lblPassword->SetAlignment(taRightJustify);
  lblPassword->SetTransparent(true);
  lblPassword->SetCaption(u"Password:");
  lblPassword->SetFont(font);

  edLogin = Place<TEdit>(this, u"edLogin", 144, 8, 150, 21);
  edLogin->SetFont(font);
  edLogin->SetTabOrder(0);
  edLogin->SetText(u"");

  edPassword = Place<TEdit>(this, u"edPassword", 144, 32, 150, 21);
  edPassword->SetFont(font);
  edPassword->SetTabOrder(1);
  edPassword->SetText(u"");
  // The window shows the password as typed (no masking character); a terminal keeps
  // what it echoed in its scroll-back, so text backends must not show it at all.
  edPassword->SetSecret(true);

  bvlButtons = Place<TBevel>(this, u"bvlButtons", 8, 64, 289, 17);
  bvlButtons->SetShape(bsTopLine);

  btnOk = Place<TButton>(this, u"btnOk", 139, 72, 75, 25);
  btnOk->SetCaption(u"&OK");
  btnOk->SetDefault(true);
  btnOk->SetModalResult(mrOk);
  btnOk->SetFont(font);

  btnCancel = Place<TButton>(this, u"btnCancel", 219, 72, 75, 25);
  btnCancel->SetCaption(u"&Cancel");
  btnCancel->SetCancel(true);
  btnCancel->SetModalResult(mrCancel);
  btnCancel->SetFont(font);

  // The key picture is artwork a drawing backend supplies; only its place is fixed.
  imgKey = Place<TImage>(this, u"imgKey", 16, 8, 24, 24);
  imgKey->SetTransparent(true);
}

bool KtInAskLogon(const String& ACaption, String& User, String& Password) {
  // Owned here so the dialog is freed on every path out, exceptions included.
  auto dialog = std::make_unique<TfrmKtILogon>(nullptr);
  if (!ACaption.empty()) dialog->SetCaption(ACaption);
  dialog->edLogin->SetText(User);
  dialog->edPassword->SetText(Password);
  if (dialog->ShowModal() != mrOk) return false;
  User = dialog->edLogin->Text();
  Password = dialog->edPassword->Text();
  return true;
}

}  // namespace ktinet
