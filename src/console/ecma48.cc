// The bytes of each cursor motion and colour change the renderer chose.
#include "console/ecma48.h"

namespace q7t::paint {

void AppendStep(const SgrStep& s, std::string& out) {
  out += "\x1b[";
  for (int i = 0; i < s.n; ++i) {
    if (i > 0) out.push_back(';');
    AppendNum(out, s.p[i]);
  }
  out.push_back('m');
}

void AppendStep(const VertStep& s, std::string& out) {
  switch (s.kind) {
    case VertStep::kNone:
      break;
    case VertStep::kLf:
      out.push_back('\n');
      break;
    case VertStep::kRi:
      out += "\x1bM";
      break;
    case VertStep::kCud:
      AppendCsiN(out, s.n, 'B');
      break;
    case VertStep::kCuu:
      AppendCsiN(out, s.n, 'A');
      break;
    case VertStep::kVpa:
      AppendCsiN(out, s.n, 'd');
      break;
  }
}

void AppendStep(const HorizStep& s, std::string& out) {
  switch (s.kind) {
    case HorizStep::kNone:
      break;
    case HorizStep::kCr:
      out.push_back('\r');
      if (s.n > 1) AppendCsiN(out, s.n - 1, 'C');
      break;
    case HorizStep::kCha:
      AppendCsiN(out, s.n, 'G');
      break;
    case HorizStep::kCuf:
      AppendCsiN(out, s.n, 'C');
      break;
    case HorizStep::kCub:
      AppendCsiN(out, s.n, 'D');
      break;
    case HorizStep::kBs:
      out.append(static_cast<std::size_t>(s.n), '\b');
      break;
  }
}

void AppendStep(const MoveStep& s, std::string& out) {
  switch (s.kind) {
    case MoveStep::kNone:
      break;
    case MoveStep::kCup:
      out += "\x1b[";
      if (s.row > 1) AppendNum(out, s.row);
      if (s.col > 1) {
        out.push_back(';');
        AppendNum(out, s.col);
      }
      out.push_back('H');
      break;
    case MoveStep::kNel:
      out +=
          "\x1b"
          "E";
      AppendStep(s.horiz, out);
      break;
    case MoveStep::kSteps:
      AppendStep(s.vert, out);
      AppendStep(s.horiz, out);
      break;
  }
}

}  // namespace q7t::paint
