#include "fs/byte_stream.h"

#include <cerrno>
#include <cstring>

#include "platform/file_handle.h"

namespace zavo {

ByteStream::~ByteStream() { Close(); }

bool ByteStream::Open(const std::string& path, Mode mode) {
  Close();
  path_ = path;
  mode_ = mode;
  failed_ = false;
  io_error_ = false;
  error_.clear();
  buffer_pos_ = 0;
  buffer_len_ = 0;
  buffer_start_ = 0;
  position_ = 0;
  file_ = OpenFile(
      path, mode == Mode::kRead ? FileOpenMode::kRead : FileOpenMode::kCreate);
  if (file_ == nullptr) {
    error_ = "open(" + path + "): " + std::strerror(errno);
    return false;
  }
  return true;
}

bool ByteStream::Close() {
  if (file_ == nullptr) return true;
  bool ok = true;
  if (mode_ == Mode::kCreate) ok = FlushWrites();
  if (std::fclose(file_) != 0 && ok) {
    ok = false;
    io_error_ = true;
    error_ = "close(" + path_ + "): " + std::strerror(errno);
  }
  file_ = nullptr;
  return ok && !io_error_;
}

bool ByteStream::FlushWrites() {
  if (buffer_pos_ == 0) return !io_error_;
  std::size_t written = std::fwrite(buffer_, 1, buffer_pos_, file_);
  if (written != buffer_pos_) {
    io_error_ = true;
    failed_ = true;
    error_ = "write(" + path_ + "): " + std::strerror(errno);
  }
  buffer_start_ += static_cast<std::int64_t>(buffer_pos_);
  buffer_pos_ = 0;
  return !io_error_;
}

std::size_t ByteStream::Read(void* data, std::size_t n) {
  if (file_ == nullptr || mode_ != Mode::kRead || failed_) {
    failed_ = true;
    return 0;
  }
  unsigned char* out = static_cast<unsigned char*>(data);
  std::size_t done = 0;
  while (done < n) {
    if (buffer_pos_ == buffer_len_) {
      buffer_start_ += static_cast<std::int64_t>(buffer_len_);
      buffer_pos_ = 0;
      buffer_len_ = std::fread(buffer_, 1, sizeof(buffer_), file_);
      if (buffer_len_ == 0) {
        if (std::ferror(file_)) {
          io_error_ = true;
          error_ = "read(" + path_ + "): " + std::strerror(errno);
          std::clearerr(file_);
        }
        failed_ = true;
        break;
      }
    }
    std::size_t take = buffer_len_ - buffer_pos_;
    if (take > n - done) take = n - done;
    std::memcpy(out + done, buffer_ + buffer_pos_, take);
    buffer_pos_ += take;
    done += take;
  }
  position_ += static_cast<std::int64_t>(done);
  return done;
}

bool ByteStream::Write(const void* data, std::size_t n) {
  if (file_ == nullptr || mode_ != Mode::kCreate) {
    failed_ = true;
    return false;
  }
  const unsigned char* in = static_cast<const unsigned char*>(data);
  while (n > 0) {
    if (buffer_pos_ == sizeof(buffer_) && !FlushWrites()) return false;
    std::size_t take = sizeof(buffer_) - buffer_pos_;
    if (take > n) take = n;
    std::memcpy(buffer_ + buffer_pos_, in, take);
    buffer_pos_ += take;
    in += take;
    n -= take;
    position_ += static_cast<std::int64_t>(take);
  }
  return !io_error_;
}

std::int64_t ByteStream::Size() {
  if (file_ == nullptr) return 0;
  if (mode_ == Mode::kCreate) {
    return position_ > buffer_start_ + static_cast<std::int64_t>(buffer_pos_)
               ? position_
               : buffer_start_ + static_cast<std::int64_t>(buffer_pos_);
  }
  long here = std::ftell(file_);
  if (here < 0 || std::fseek(file_, 0, SEEK_END) != 0) return position_;
  long end = std::ftell(file_);
  std::fseek(file_, here, SEEK_SET);
  return end < 0 ? position_ : end;
}

bool ByteStream::Seek(std::int64_t position) {
  if (file_ == nullptr || position < 0) return false;
  if (mode_ == Mode::kRead) {
    // A seek within the buffer (the common one-byte step back of
    // ReadTextLine) needs no system call.
    std::int64_t end = buffer_start_ + static_cast<std::int64_t>(buffer_len_);
    if (position >= buffer_start_ && position <= end) {
      buffer_pos_ = static_cast<std::size_t>(position - buffer_start_);
      position_ = position;
      return true;
    }
    if (std::fseek(file_, static_cast<long>(position), SEEK_SET) != 0) {
      return false;
    }
    buffer_start_ = position;
    buffer_pos_ = 0;
    buffer_len_ = 0;
    position_ = position;
    return true;
  }
  if (!FlushWrites()) return false;
  if (std::fseek(file_, static_cast<long>(position), SEEK_SET) != 0) {
    return false;
  }
  buffer_start_ = position;
  position_ = position;
  return true;
}

void ReadTextLine(ByteStream* stream, std::string* text, std::size_t limit,
                  bool* cut, std::string* line_end) {
  if (cut != nullptr) *cut = false;
  if (line_end != nullptr) line_end->clear();
  if (stream == nullptr || !stream->is_open()) return;
  text->clear();
  unsigned char c = 0;
  bool ended = false;
  while (stream->Read(&c, 1) == 1) {
    if (c == '\r' || c == '\n') {
      ended = true;
      break;
    }
    if (text->size() < limit) {
      text->push_back(static_cast<char>(c));
    } else if (cut != nullptr) {
      *cut = true;
    }
  }
  if (ended) {
    if (line_end != nullptr) line_end->push_back(static_cast<char>(c));
    unsigned char partner = c == '\r' ? '\n' : '\r';
    unsigned char next = 0;
    if (stream->Read(&next, 1) == 1) {
      if (next != partner) {
        stream->Seek(stream->Position() - 1);
      } else if (line_end != nullptr) {
        line_end->push_back(static_cast<char>(next));
      }
    }
  }
  if (stream->failed()) {
    stream->ClearError();
    stream->Seek(stream->Size());
  }
}

bool WriteTexts(ByteStream* stream, const std::string& first,
                const std::string& second) {
  if (stream == nullptr) return false;
  bool ok = stream->Write(first.data(), first.size());
  return stream->Write(second.data(), second.size()) && ok;
}

}  // namespace zavo
