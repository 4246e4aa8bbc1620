// The flood of output lines that the script double writes and that the tests and the benchmark
// predict line by line: step markers and build progress lines from a fixed pseudo-random
// sequence. The shape makes every line visible on the receiving side: a step marker never
// repeats the step before it, a build line is always followed by a step marker, and the last
// line is a step marker, so the state each step marker finds tells which line came before it.
#pragma once

#include <cstdint>
#include <string>

namespace flood {

constexpr int kTotal = 1000000;  // the count every build line's fraction is measured against

// What a console shows at the end of the double's redraws: winget's words after its spinner.
constexpr const char* kLastFrame = "Found MSYS2 [MSYS2.MSYS2] Version 20250830";

const char* const kKeys[10] = {"msys",  "packages",  "source",  "tools",   "dlss",
                               "check", "translate", "compile", "runtime", "shortcuts"};

struct Line {
  bool step;         // a step marker; otherwise a build progress line
  int key;           // the step's index (step markers only)
  int number;        // the build line's count (build lines only)
  std::string text;  // with its line end
};

class Lines {
 public:
  Lines(uint32_t seed, int count) : state_(seed), left_(count) {}

  bool Done() const { return left_ == 0; }

  Line Next() {
    --left_;
    uint32_t r = Random();
    Line line = {};
    // A build line needs a step marker after it, so none is made as the last line.
    line.step = left_ == 0 || !last_was_step_ || r % 2 == 0;
    if (line.step) {
      line.key = last_key_ < 0 ? static_cast<int>(r % 10) : (last_key_ + 1 + static_cast<int>(r % 9)) % 10;
      last_key_ = line.key;
      line.text = std::string("@step ") + kKeys[line.key];
      // Carriage returns and trailing blanks, as Windows tools print them, must not matter.
      line.text += (r >> 4) % 5 == 0 ? "\r\n" : (r >> 4) % 7 == 0 ? "  \r\n" : "\n";
    } else {
      line.number = static_cast<int>((r >> 4) % kTotal);
      line.text = "[" + std::to_string(line.number) + "/" + std::to_string(kTotal) + "] n\n";
    }
    last_was_step_ = line.step;
    return line;
  }

  uint32_t Random() {
    state_ = state_ * 1664525u + 1013904223u;
    return state_ >> 8;
  }

 private:
  uint32_t state_;
  int left_;
  int last_key_ = -1;
  bool last_was_step_ = false;
};

}  // namespace flood
