// A backend for tests: answers come from queues, and everything shown is recorded
// as a person would have seen it at the moment it appeared.
#pragma once

#include <deque>
#include <functional>
#include <vector>

#include "vcl/UiBackend.h"

namespace ktinet {

// One control as shown.
struct TControlSnapshot {
  String Name;
  String ClassName;
  String Text;  // caption or text (a secret edit's text is recorded too: tests need it)
  int Left = 0, Top = 0, Width = 0, Height = 0;
  bool Visible = true;
  bool Enabled = true;
  int TabOrder = -1;  // -1 for controls that take no focus
  String Picture;     // an image's picture: the Description of its graphic, empty when none
  Int64 Position = 0, Max = 0;  // a progress bar's
};

struct TShownForm {
  String ClassName;
  String Name;
  String Caption;
  int ClientWidth = 0, ClientHeight = 0;
  std::vector<TControlSnapshot> Controls;  // in creation order
  TModalResult Result = mrNone;            // what the script answered

  const TControlSnapshot* Find(const String& name) const;
};

struct TShownMessage {
  TMessageRequest Request;
  TModalResult Result = mrNone;
};

class ScriptedBackend : public UiBackend {
 public:
  // Answers a modal form: may set edits, click buttons; returns a modal result.
  // mrNone means "whatever the form's ModalResult now is" (Cancel if still none).
  using FormAnswer = std::function<TModalResult(TForm&)>;

  const char* Name() const override { return "scripted"; }
  TModalResult ShowModal(TForm& form) override;
  TModalResult MessageBox(const TMessageRequest& request) override;
  void FormShown(TForm& form) override;
  void FormChanged(TForm& form) override;
  void FormHidden(TForm& form) override;
  void ProcessMessages() override;

  void AnswerForm(FormAnswer answer) { FFormAnswers.push_back(std::move(answer)); }
  void AnswerMessage(TModalResult result) { FMessageAnswers.push_back(result); }
  // Runs on every ProcessMessages (a test can press Cancel on a shown window here).
  std::function<void()> OnPump;

  // With no answer queued a modal form or message box is answered as the headless
  // backend would (and counted here).
  int Unanswered() const { return FUnanswered; }
  const std::vector<TShownForm>& Forms() const { return FForms; }  // modal forms
  const std::vector<TShownMessage>& Messages() const { return FMessages; }
  // Modeless forms: every FormShown and FormChanged adds a snapshot.
  const std::vector<TShownForm>& ModelessViews() const { return FModeless; }
  int Pumps() const { return FPumps; }
  int PendingFormAnswers() const { return static_cast<int>(FFormAnswers.size()); }

 private:
  std::deque<FormAnswer> FFormAnswers;
  std::deque<TModalResult> FMessageAnswers;
  std::vector<TShownForm> FForms;
  std::vector<TShownMessage> FMessages;
  std::vector<TShownForm> FModeless;
  int FUnanswered = 0;
  int FPumps = 0;
};

// A snapshot of a form as it stands.
TShownForm SnapshotForm(const TForm& form);

}  // namespace ktinet
