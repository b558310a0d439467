#include "vcl/Dialogs.h"

#include "vcl/Forms.h"
#include "vcl/UiBackend.h"

namespace ktinet {

std::vector<TMsgDlgBtn> TMsgDlgButtons::List() const {
  std::vector<TMsgDlgBtn> out;
  for (int b = mbYes; b <= mbClose; ++b)
    if (Contains(static_cast<TMsgDlgBtn>(b))) out.push_back(static_cast<TMsgDlgBtn>(b));
  return out;
}

TModalResult ModalResultOf(TMsgDlgBtn button) {
  switch (button) {
    case mbYes: return mrYes;
    case mbNo: return mrNo;
    case mbOK: return mrOk;
    case mbCancel: return mrCancel;
    case mbAbort: return mrAbort;
    case mbRetry: return mrRetry;
    case mbIgnore: return mrIgnore;
    case mbAll: return mrAll;
    case mbNoToAll: return mrNoToAll;
    case mbYesToAll: return mrYesToAll;
    case mbHelp: return mrHelp;
    case mbClose: return mrClose;
  }
  return mrNone;
}

String ButtonCaption(TMsgDlgBtn button) {
  switch (button) {
    case mbYes: return u"&Yes";
    case mbNo: return u"&No";
    case mbOK: return u"&OK";
    case mbCancel: return u"&Cancel";
    case mbAbort: return u"&Abort";
    case mbRetry: return u"&Retry";
    case mbIgnore: return u"&Ignore";
    case mbAll: return u"&All";
    case mbNoToAll: return u"N&o to All";
    case mbYesToAll: return u"Yes to &All";
    case mbHelp: return u"&Help";
    case mbClose: return u"&Close";
  }
  return {};
}

String MsgDlgTypeCaption(TMsgDlgType type) {
  switch (type) {
    case mtWarning: return u"Warning";
    case mtError: return u"Error";
    case mtInformation: return u"Information";
    case mtConfirmation: return u"Confirmation";
    case mtCustom: break;
  }
  return Application->Title();
}

TModalResult MessageDlg(const String& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int HelpCtx) {
  TMessageRequest request;
  request.Caption = MsgDlgTypeCaption(DlgType);
  request.Text = Msg;
  request.DlgType = DlgType;
  request.Buttons = Buttons.Empty() ? TMsgDlgButtons{mbOK} : Buttons;
  request.HelpCtx = HelpCtx;
  TModalResult result = CurrentBackend().MessageBox(request);
  return result == mrNone ? UnattendedAnswer(request.Buttons) : result;
}

void ShowMessage(const String& Msg) {
  TMessageRequest request;
  request.Caption = Application->Title();
  request.Text = Msg;
  request.DlgType = mtCustom;
  request.Buttons = {mbOK};
  CurrentBackend().MessageBox(request);
}

}  // namespace ktinet
