#include "frame.h"

namespace trainer {

bool TFrameParser::Push(uint8_t byte) {
  switch (have_) {
    case 0: frame_.code = byte; break;
    case 1: frame_.len = byte; break;
    default:
      frame_.data[have_ - 2] = byte;
      if (have_ - 2 == frame_.len) {  // the (L + 1)th data byte
        have_ = 0;
        return true;
      }
      break;
  }
  ++have_;
  return false;
}

std::vector<uint8_t> MakeFrame(uint8_t code, std::span<const uint8_t> data) {
  std::vector<uint8_t> frame;
  frame.reserve(data.size() + 2);
  frame.push_back(code);
  frame.push_back(uint8_t(data.size() - 1));
  frame.insert(frame.end(), data.begin(), data.end());
  return frame;
}

}  // namespace trainer
