// The budget of jobs that a run shares with the nested runs it starts, as
// make's jobserver does: a run of N jobs holds one token of its own and
// puts N - 1 more into a pipe (a semaphore on Win32) that its children
// inherit; a job takes a token before it starts an archiver and gives it
// back when its archive is done. A nested run works on its parent job's
// token first and takes more from the shared pipe, so however deep the
// archives nest, no more than N archivers run at once.

#ifndef ZAVO_PLATFORM_JOB_TOKENS_H_
#define ZAVO_PLATFORM_JOB_TOKENS_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "text/status.h"

namespace zavo {

class JobTokens {
 public:
  // The environment variable that hands the budget on to nested runs.
  static constexpr const char* kVariable = "ZAVO_JOB_TOKENS";

  // Joins the budget that the run which started this process handed on in
  // kVariable; when there is none (or it names nothing valid here), makes
  // one of `count` tokens and sets kVariable, so that every child started
  // from now on inherits it; the budget goes to *tokens. Fails when no
  // budget can be made. Call before starting threads: it may change the
  // environment.
  static Status Join(int count, std::unique_ptr<JobTokens>* tokens);

  ~JobTokens();
  JobTokens(const JobTokens&) = delete;
  JobTokens& operator=(const JobTokens&) = delete;

  enum class Token { kOwn, kShared, kNone };
  // Takes a token, waiting until one is free: the run's own first, else one
  // from the shared budget. A job waiting for a shared token also takes the
  // run's own one as soon as another job gives it back: a nested run whose
  // parent's jobs all wait for nested runs has no other token to come. kNone
  // only when the budget broke (a nested run killed with its pipe, say); the
  // job then runs without one.
  Token Take();
  void Give(Token token);

 private:
  JobTokens(std::intptr_t take, std::intptr_t give)
      : take_(take), give_(give) {}
  enum class Wait { kTaken, kTimedOut, kBroken };
  // Waits up to `milliseconds` for a shared token.
  Wait TakeShared(int milliseconds);
  void GiveShared();

  std::intptr_t take_;
  std::intptr_t give_;
  std::mutex mutex_;
  // POSIX: the pipe's reading end opened anew, non-blocking, for this
  // process alone; -1 until first needed.
  std::mutex read_mutex_;
  int reader_ = -1;
  bool own_taken_ = false;
};

}  // namespace zavo

#endif  // ZAVO_PLATFORM_JOB_TOKENS_H_
