// The status window of the transfer components: four step lines, a status line, a
// progress bar and a Cancel button. The transfer base creates, fills, updates and
// frees it; a backend presents it (the terminal draws it as a live panel).
#pragma once

#include "vcl/ComCtrls.h"
#include "vcl/ExtCtrls.h"
#include "vcl/Forms.h"
#include "vcl/ImgList.h"
#include "vcl/StdCtrls.h"

namespace ktinet {

// Indexes of the images of TfrmKtInetUpdate::imgStatus, by what they show.
constexpr int siStepUnderWay = 0;   // arrow pointing right
constexpr int siWarning = 1;        // warning sign (the step logic does not use it)
constexpr int siConnected = 2;      // connection symbol: step 1 done
constexpr int siCompared = 3;       // globe with magnifying glass: step 2 done
constexpr int siDownloaded = 4;     // globe with transfer arrows: step 3 done
constexpr int siDisconnected = 5;   // broken connection: step 4 done

class TfrmKtInetUpdate : public TForm {
 public:
  explicit TfrmKtInetUpdate(TComponent* AOwner);

  TPanel* pnlDescription;
  TLabel* lblCaption;
  TImage* imgBackground;
  TImage* imgDescription;
  TLabel* lblDescription;
  TImage* imgLogo;
  TButton* btnCancel;
  TLabel* lblStep1;
  TLabel* lblStep2;
  TLabel* lblStep3;
  TLabel* lblStep4;
  TImageList* imgStatus;
  TImage* imgStep1;
  TImage* imgStep2;
  TImage* imgStep3;
  TImage* imgStep4;
  TLabel* lblRemote;
  TLabel* lblLocal;
  TLabel* lblLocalFileName;
  TLabel* lblRemoteFileName;
  TProgressBar* pbStatus;
  TLabel* lblStatus;

  // Set by Cancel, read by the transfer loop after every block; the form never
  // closes itself.
  bool IsCanceled = false;

  // The form's create event: the caption comes from the message table at that moment.
  void FormCreate(TObject* Sender);
  // Cancel's click event (also what Esc and "c" press in the terminal).
  void btnCancelClick(TObject* Sender);
};

}  // namespace ktinet
