#include "registry/StdOutChannel.h"

#include <cstring>
#include <string>

#include "registry/Exceptions.h"
#include "registry/FailurePoint.h"

namespace zelmora {
namespace {

using platform::System;

constexpr char kLineEnd[] = {'\r', '\n'};

}  // namespace

TStdOutChannel& StdOut() {
  static TStdOutChannel channel;
  return channel;
}

void TStdOutChannel::SetUp() {
  *this = TStdOutChannel();
  ansiCodePage_ = System().GetACP();
}

bool TStdOutChannel::EnsureOpen() {
  if (open_) return true;
  handle_ = System().GetStdHandle(platform::kStdOutputHandle);
  const platform::DWORD type = System().GetFileType(handle_);
  if (codePage_ == 0) {
    codePage_ = type == platform::kFileTypeChar ? System().GetConsoleOutputCP() : ansiCodePage_;
  }
  if (type == platform::kFileTypeUnknown) {
    pendingIoCode_ = kNoUsableHandle;
    return false;
  }
  open_ = true;
  count_ = 0;
  lineEndWriteOut_ = type == platform::kFileTypeChar;
  return true;
}

void TStdOutChannel::WriteLine(std::u16string_view text) {
  // The first write opens the channel. Should that fail, each step below that writes tries
  // again, and drops its bytes if it fails too.
  EnsureOpen();
  if (!text.empty()) {
    const int length = static_cast<int>(text.size());
    const int needed = System().WideCharToMultiByte(codePage_, 0, text.data(), length, nullptr, 0,
                                                    nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(needed > 0 ? needed : 0), '\0');
    const int converted = needed > 0
                              ? System().WideCharToMultiByte(codePage_, 0, text.data(), length,
                                                             bytes.data(), needed, nullptr, nullptr)
                              : 0;
    if (converted <= 0) {
      // A text that cannot be converted is a failed output step like any other.
      const auto code = static_cast<std::int32_t>(System().GetLastError());
      pendingIoCode_ = code != 0 ? code : platform::kErrorNoUnicodeTranslation;
      return;
    }
    Append(bytes.data(), static_cast<std::size_t>(converted));
  }
  Append(kLineEnd, sizeof kLineEnd);
  if (open_ && lineEndWriteOut_) WriteOut();
}

void TStdOutChannel::Append(const char* bytes, std::size_t size) {
  while (size > 0) {
    if (!EnsureOpen()) return;  // its bytes are dropped
    const std::size_t room = kBufferSize - count_;
    const std::size_t chunk = size < room ? size : room;
    std::memcpy(buffer_.data() + count_, bytes, chunk);
    count_ += chunk;
    bytes += chunk;
    size -= chunk;
    if (count_ == kBufferSize && !WriteOut()) return;  // the rest being appended is dropped
  }
}

bool TStdOutChannel::WriteOut() {
  const platform::DWORD size = static_cast<platform::DWORD>(count_);
  count_ = 0;
  platform::DWORD written = 0;
  if (System().WriteFile(handle_, buffer_.data(), size, &written, nullptr) == 0) {
    pendingIoCode_ = static_cast<std::int32_t>(System().GetLastError());
    return false;
  }
  return true;
}

void TStdOutChannel::Flush() {
  if (open_ && count_ > 0) WriteOut();
}

void TStdOutChannel::Close() {
  Flush();
  open_ = false;
}

std::int32_t TStdOutChannel::TakePendingIoCode() {
  const std::int32_t code = pendingIoCode_;
  pendingIoCode_ = 0;
  return code;
}

ZELMORA_NOINLINE void CheckIoResult() {
  const std::int32_t code = StdOut().TakePendingIoCode();
  if (code == 0) return;
  EInOutError error(code);
  error.SetFailurePoint(ZELMORA_RETURN_ADDRESS());
  throw error;
}

}  // namespace zelmora
