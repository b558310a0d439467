#include "vcl/ScriptedBackend.h"

#include "vcl/ComCtrls.h"
#include "vcl/ExtCtrls.h"
#include "vcl/Forms.h"

namespace ktinet {

namespace {

void SnapshotChildren(const TWinControl& parent, std::vector<TControlSnapshot>& out) {
  for (int i = 0; i < parent.ControlCount(); ++i) {
    const TControl* c = parent.Controls(i);
    TControlSnapshot s;
    s.Name = c->Name();
    s.ClassName = c->ClassName();
    s.Text = c->Text();
    s.Left = c->Left();
    s.Top = c->Top();
    s.Width = c->Width();
    s.Height = c->Height();
    s.Visible = c->Visible();
    s.Enabled = c->Enabled();
    auto* w = dynamic_cast<const TWinControl*>(c);
    if (w && w->TabStop()) s.TabOrder = w->TabOrder();
    if (auto* image = dynamic_cast<const TImage*>(c); image && image->Picture()->Graphic())
      s.Picture = image->Picture()->Graphic()->Description();
    if (auto* bar = dynamic_cast<const TProgressBar*>(c)) {
      s.Position = bar->Position();
      s.Max = bar->Max();
    }
    out.push_back(std::move(s));
    if (w) SnapshotChildren(*w, out);
  }
}

}  // namespace

TShownForm SnapshotForm(const TForm& form) {
  TShownForm s;
  s.ClassName = form.ClassName();
  s.Name = form.Name();
  s.Caption = form.Caption();
  s.ClientWidth = form.ClientWidth();
  s.ClientHeight = form.ClientHeight();
  SnapshotChildren(form, s.Controls);
  return s;
}

const TControlSnapshot* TShownForm::Find(const String& name) const {
  for (const auto& c : Controls)
    if (c.Name == name) return &c;
  return nullptr;
}

TModalResult ScriptedBackend::ShowModal(TForm& form) {
  // Recorded before the script runs: what the person saw when the form appeared.
  FForms.push_back(SnapshotForm(form));
  TModalResult result;
  if (FFormAnswers.empty()) {
    ++FUnanswered;
    result = mrCancel;
  } else {
    FormAnswer answer = std::move(FFormAnswers.front());
    FFormAnswers.pop_front();
    result = answer ? answer(form) : mrNone;
    if (result == mrNone) result = form.ModalResult();
    if (result == mrNone) result = mrCancel;
  }
  FForms.back().Result = result;
  return result;
}

TModalResult ScriptedBackend::MessageBox(const TMessageRequest& request) {
  TModalResult result;
  if (FMessageAnswers.empty()) {
    ++FUnanswered;
    result = UnattendedAnswer(request.Buttons);
  } else {
    result = FMessageAnswers.front();
    FMessageAnswers.pop_front();
  }
  FMessages.push_back({request, result});
  return result;
}

void ScriptedBackend::FormShown(TForm& form) { FModeless.push_back(SnapshotForm(form)); }
void ScriptedBackend::FormChanged(TForm& form) { FModeless.push_back(SnapshotForm(form)); }
void ScriptedBackend::FormHidden(TForm&) {}

void ScriptedBackend::ProcessMessages() {
  ++FPumps;
  if (OnPump) OnPump();
}

}  // namespace ktinet
