// How the terminal shows a modeless form (a status window): a panel of text lines
// laid out like the form. Controls keep their reading order and rough columns:
// rows are built from the controls' tops, columns scaled from their lefts. Labels
// show their captions (bold when their font is), images the glyph of their picture
// (pictures without one are left out), progress bars a bar, buttons their caption
// and the keys that press them. Hidden controls and empty labels take no room.
#pragma once

#include <string>
#include <vector>

#include "vcl/Forms.h"

namespace ktinet {

struct TPanelStyle {
  int Columns = 80;     // the terminal's width; lines never reach its last column
  bool Utf8 = true;     // false: ASCII stand-ins for glyphs and the bar
  bool Styled = false;  // ANSI bold for bold fonts and the title
};

std::vector<std::string> RenderPanel(const TForm& form, const TPanelStyle& style);

// True when `fd` is a terminal that understands escape codes (cursor movement, bold): a
// terminal whose TERM is unset or "dumb" gets plain lines, drawn once instead of redrawn.
bool TerminalTakesEscapes(int fd);

// The keys that press `button` in a panel: its accelerator letter, and Esc for a cancel button.
std::string PanelKeysOf(const class TButton& button);

}  // namespace ktinet
