// How forms and message boxes reach a person. Forms stay ordinary objects; a
// backend presents them: a terminal, nothing at all (services, CI), a test script,
// or an application's own toolkit installed with SetBackend.
#pragma once

#include <cstdio>
#include <memory>

#include "vcl/Dialogs.h"

namespace ktinet {

class TForm;

struct TMessageRequest {
  String Caption;
  String Text;
  TMsgDlgType DlgType = mtInformation;
  TMsgDlgButtons Buttons{mbOK};
  int HelpCtx = 0;
};

class UiBackend {
 public:
  virtual ~UiBackend() = default;
  // "headless", "terminal", "scripted" or an application's own name.
  virtual const char* Name() const = 0;

  // Presents `form` modally and returns once it is answered: the form's ModalResult
  // when a button set it, mrCancel when the person cancelled or closed it.
  virtual TModalResult ShowModal(TForm& form) = 0;
  // Presents a message box and returns the modal result of the button chosen.
  virtual TModalResult MessageBox(const TMessageRequest& request) = 0;

  // A modeless form became visible, changed, or was hidden (or is being destroyed).
  virtual void FormShown(TForm&) {}
  virtual void FormChanged(TForm&) {}
  virtual void FormHidden(TForm&) {}
  // Delivers pending input to shown forms (clicks, keys) without blocking.
  virtual void ProcessMessages() {}
};

// Modal forms answer Cancel, message boxes are written to a stream (stderr) and
// answer Cancel, No or OK (the first of these the box offers); nothing blocks.
class HeadlessBackend : public UiBackend {
 public:
  explicit HeadlessBackend(std::FILE* out = stderr) : FOut(out) {}
  const char* Name() const override { return "headless"; }
  TModalResult ShowModal(TForm& form) override;
  TModalResult MessageBox(const TMessageRequest& request) override;

 private:
  std::FILE* FOut;
};

// The answer a box gives when nobody can be asked: Cancel, else No, else OK, else
// the first button offered.
TModalResult UnattendedAnswer(const TMsgDlgButtons& buttons);

// The backend in use; the headless one until another is installed.
UiBackend& CurrentBackend();
// Installs `backend` (null restores the headless one). Not for use while a form is shown.
void SetBackend(std::unique_ptr<UiBackend> backend);
// Installs the terminal backend when stdin and stdout are terminals, the headless one
// otherwise; KTINET_UI=terminal or KTINET_UI=headless decides instead. An unknown
// KTINET_UI value is reported on stderr and the automatic choice is made.
UiBackend& ChooseBackendFromEnvironment();

// Installs a backend for the lifetime of a scope and puts the previous one back.
class TBackendScope {
 public:
  explicit TBackendScope(std::unique_ptr<UiBackend> backend);
  ~TBackendScope();
  TBackendScope(const TBackendScope&) = delete;
  TBackendScope& operator=(const TBackendScope&) = delete;

 private:
  std::unique_ptr<UiBackend> FPrevious;
};

}  // namespace ktinet
