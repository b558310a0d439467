// Message boxes, presented by the current UiBackend.
#pragma once

#include <initializer_list>
#include <vector>

#include "vcl/Controls.h"

namespace ktinet {

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn { mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore, mbAll, mbNoToAll, mbYesToAll, mbHelp, mbClose };

// A set of buttons, written like the framework's: {mbOK, mbCancel}.
class TMsgDlgButtons {
 public:
  constexpr TMsgDlgButtons() = default;
  constexpr TMsgDlgButtons(std::initializer_list<TMsgDlgBtn> buttons) {
    for (TMsgDlgBtn b : buttons) FBits |= 1u << b;
  }
  constexpr bool Contains(TMsgDlgBtn b) const { return (FBits & (1u << b)) != 0; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr bool operator==(const TMsgDlgButtons&) const = default;
  // In display order (the enumeration's order).
  std::vector<TMsgDlgBtn> List() const;

 private:
  unsigned FBits = 0;
};

constexpr TMsgDlgButtons mbYesNo{mbYes, mbNo};
constexpr TMsgDlgButtons mbYesNoCancel{mbYes, mbNo, mbCancel};
constexpr TMsgDlgButtons mbOKCancel{mbOK, mbCancel};
constexpr TMsgDlgButtons mbAbortRetryIgnore{mbAbort, mbRetry, mbIgnore};

// The modal result a button gives ("OK" gives mrOk ...), and its caption ("&OK").
TModalResult ModalResultOf(TMsgDlgBtn button);
String ButtonCaption(TMsgDlgBtn button);
// The caption of a box of this type: "Warning", "Error", "Information", "Confirmation";
// mtCustom has the application's title.
String MsgDlgTypeCaption(TMsgDlgType type);

// A modal message box; returns the modal result of the button chosen. No buttons means OK.
TModalResult MessageDlg(const String& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int HelpCtx = 0);
// An information box with one OK button and the application's title as caption.
void ShowMessage(const String& Msg);

}  // namespace ktinet
