// Presents forms and message boxes on a text terminal.
//
// A modal form is asked field by field. Its caption is printed as a heading, then
// every visible, enabled edit in tab order is asked with the text of the label
// that names it (its FocusControl, else the label left of it on the same row):
//   - a plain edit starts with its current text, shown and editable: Backspace
//     deletes, Ctrl-U clears the line, Enter accepts and goes to the next field;
//   - a secret edit echoes nothing; when it holds a text the prompt says that
//     Enter keeps it, and the first key typed starts a new text (so Backspace
//     then Enter empties it);
//   - Enter in the last field presses the default button; Escape, Ctrl-C or
//     end of input (Ctrl-D on an empty line) press the cancel button (mrCancel
//     when there is none). Nothing is taken from the edits on those paths unless
//     the form's own handler does it.
// A form without edits lists its buttons; their accelerator letter presses one,
// Enter the default, Escape the cancel button.
// A message box prints its caption and text and waits for Enter (one OK button)
// or for a button's letter.
// The terminal is put in non-canonical, no-echo mode only while it reads and is
// restored on every path out. When the input is not a terminal the same keys are
// read from it as bytes (useful for scripts and tests).
#pragma once

#include <string>

#include "vcl/UiBackend.h"

namespace ktinet {

class TerminalBackend : public UiBackend {
 public:
  explicit TerminalBackend(int inFd = 0, int outFd = 1);
  const char* Name() const override { return "terminal"; }
  TModalResult ShowModal(TForm& form) override;
  TModalResult MessageBox(const TMessageRequest& request) override;

 private:
  class Session;
  int FIn;
  int FOut;
};

}  // namespace ktinet
