// The conversation of TAVO's routines with the user: a message on the
// terminal and a prompt read from the command input (the terminal or the
// macro file of the moment). Physics and design routines that print or ask
// include this, never the command table.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "gxlib/console/converse.h"
#include "tavo/state.h"

namespace tavo {

// A message on the terminal, behind the carriage-control blank.
void say(Tavo& s, std::string_view text);

// A prompt of the commands: the prompt's own text (e.g. "Which?> ") after
// the carriage-control blank, one record of width characters (0: the whole
// record) from the command input, echoed when it came from a macro. Ok, or
// End when the macro file has no more (the command then gives up). The end
// of the terminal input throws gx::EndOfInput, which run() catches.
gx::Reply ask(Tavo& s, std::string_view prompt, std::string& reply, size_t width);
// The same, asked again while accept() refuses the answer.
gx::Reply askUntil(Tavo& s, std::string_view prompt, std::string& reply, size_t width,
                   const std::function<bool(const std::string&)>& accept);

}  // namespace tavo
