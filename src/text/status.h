// How an operation that may fail went: one value for every layer. A failure
// carries a text that names what was done to what and why, as
// "openat(/arc/a.zip): Permission denied", and the system's error number
// where one caused it, so that a caller can tell "not there" from "failed".

#ifndef ZAVO_TEXT_STATUS_H_
#define ZAVO_TEXT_STATUS_H_

#include <string>
#include <utility>

namespace zavo {

class Status {
 public:
  // Success.
  Status() = default;

  // A failure with `message` (never empty for a failure). `code` is the
  // system's error number behind it (errno, or the Win32 error), 0 when
  // none; `missing` says the thing asked for does not exist.
  static Status Error(std::string message, int code = 0, bool missing = false) {
    Status status;
    status.failed_ = true;
    status.message_ = message.empty() ? "failed" : std::move(message);
    status.code_ = code;
    status.missing_ = missing;
    return status;
  }

  bool ok() const { return !failed_; }
  // The same: true on success.
  explicit operator bool() const { return ok(); }
  // What failed and why; empty on success.
  const std::string& message() const { return message_; }
  int code() const { return code_; }
  // The failure is that the thing does not exist.
  bool missing() const { return failed_ && missing_; }

  // The reason alone: the text after the call and its path
  // ("Permission denied" of "openat(x): Permission denied"), or the whole
  // message when it has no such form.
  std::string Reason() const;

  // The same failure with `what` put before its message ("can't save list
  // [x]: " + message).
  Status Within(const std::string& what) const {
    return ok() ? *this : Error(what + message_, code_, missing_);
  }

 private:
  bool failed_ = false;
  bool missing_ = false;
  int code_ = 0;
  std::string message_;
};

}  // namespace zavo

#endif  // ZAVO_TEXT_STATUS_H_
