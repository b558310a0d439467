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
//
// A form shown modelessly (the transfer's status window) is drawn as a live panel
// (see TerminalPanel.h) below the text already on the terminal. While it is shown
// the terminal is in non-canonical, no-echo mode and every
// Application->ProcessMessages reads the keys waiting, without blocking: Esc
// presses the form's cancel button, a letter the button it marks ("c" for
// "&Cancel"). On a terminal the panel is redrawn in place when the form changes
// (at most every few hundredths of a second, at the next pump); when the output is
// not a terminal it is printed once when shown and once, as it ended, when hidden.
// The terminal's mode and cursor are given back when the last panel goes, when the
// backend is destroyed, at exit, and on a fatal signal (the signal then does what it
// would have done).
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "vcl/UiBackend.h"

namespace ktinet {

class TerminalBackend : public UiBackend {
 public:
  explicit TerminalBackend(int inFd = 0, int outFd = 1);
  ~TerminalBackend() override;
  TerminalBackend(const TerminalBackend&) = delete;
  TerminalBackend& operator=(const TerminalBackend&) = delete;
  const char* Name() const override { return "terminal"; }
  TModalResult ShowModal(TForm& form) override;
  TModalResult MessageBox(const TMessageRequest& request) override;
  void FormShown(TForm& form) override;
  void FormChanged(TForm& form) override;
  void FormHidden(TForm& form) override;
  void ProcessMessages() override;

  // Ours, for tests: the panel's width and character set instead of the terminal's.
  void SetPanelColumns(int columns) { FColumns = columns; }
  void SetPanelUtf8(bool utf8) { FUtf8 = utf8; FUtf8Set = true; }

 private:
  class Session;
  void EnterPanelMode();
  void LeavePanelMode();
  void DrawPanels();
  void SetPanelAside();
  void HandleKeys(const std::string& bytes);
  void Write(const std::string& s);
  int FIn;
  int FOut;
  bool FOutIsTty = false;
  std::vector<TForm*> FPanels;  // modeless forms shown, oldest first
  int FDrawnLines = 0;          // lines of the live panels, for redrawing in place
  bool FDirty = false;
  bool FInputClosed = false;
  bool FPanelMode = false;
  bool FOwnsTerminal = false;
  int FColumns = 0;
  bool FUtf8 = true;
  bool FUtf8Set = false;
  std::chrono::steady_clock::time_point FLastDraw{};
};

}  // namespace ktinet
