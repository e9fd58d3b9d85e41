#include "platform/job_tokens.h"

namespace zavo {

JobTokens::Token JobTokens::Take() {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!own_taken_) {
        own_taken_ = true;
        return Token::kOwn;
      }
    }
    switch (TakeShared(20)) {
      case Wait::kTaken:
        return Token::kShared;
      case Wait::kBroken:
        return Token::kNone;
      case Wait::kTimedOut:
        break;
    }
  }
}

void JobTokens::Give(Token token) {
  if (token == Token::kOwn) {
    std::lock_guard<std::mutex> lock(mutex_);
    own_taken_ = false;
  } else if (token == Token::kShared) {
    GiveShared();
  }
}

}  // namespace zavo
