// The conversation helpers over gxlib's terminal and prompted reads.
#include "tavo/talk.h"

namespace tavo {

void say(Tavo& s, std::string_view text) { gx::gxsay(s.gx, s.inout.term, text); }

gx::Reply ask(Tavo& s, std::string_view prompt, std::string& reply, size_t width) {
  return gx::gxprompt(s.gx, s.inout.cmd, s.inout.term, " " + std::string(prompt), reply, width);
}

gx::Reply askUntil(Tavo& s, std::string_view prompt, std::string& reply, size_t width,
                   const std::function<bool(const std::string&)>& accept) {
  return gx::gxask(s.gx, s.inout.cmd, s.inout.term, " " + std::string(prompt), reply, width,
                   accept);
}

}  // namespace tavo
