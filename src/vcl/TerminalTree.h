// How the terminal shows a tree view: one line per visible node, indented by level, bold nodes
// in bold with a "*" marker, the selection highlighted. Modally it is a navigable list:
// Up/Down (or k/j) move, Home/End (or g/G) jump, Enter or Space click the selected node (the
// tree's OnClick decides what that does), q, Esc, Ctrl-C or the end of input close it.
#pragma once

#include <string>
#include <vector>

#include "vcl/Forms.h"
#include "vcl/TreeView.h"

namespace ktinet {

struct TTreeStyle {
  bool Styled = false;  // ANSI bold and reverse video
  int Columns = 80;     // lines are cut to fit
};

// The lines of the tree as shown (no title, no help line). `from` and `count` pick a window of
// the visible nodes (count < 0: all).
std::vector<std::string> RenderTree(const TTreeView& tree, const TTreeStyle& style, int from = 0, int count = -1);

// The first visible tree view on `form` (searching its children depth-first), null when none.
TTreeView* FindTreeView(const TForm& form);

// Runs the tree of `form` modally on the terminal at `inFd`/`outFd` until the person closes it;
// returns mrCancel (the form's ModalResult when a handler set one). The terminal is put in
// raw, no-echo mode only while it runs and restored on every path out.
TModalResult RunTerminalTree(TForm& form, TTreeView& tree, int inFd, int outFd);

// Prints the form's caption and its tree once (a modeless form on a terminal).
void PrintTerminalTree(const TForm& form, const TTreeView& tree, int outFd);

}  // namespace ktinet
