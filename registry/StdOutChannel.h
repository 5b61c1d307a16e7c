// The process's standard-output text channel.
//
// Output raises nothing by itself: a failed step leaves a pending I/O error code, which the
// writer turns into EInOutError with CheckIoResult after each line. Bytes are buffered; a
// console gets each line at its end, a file or a pipe only when the buffer fills, on Flush or at
// Close.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "platform/Platform.h"
#include "registry/OutputChannel.h"

namespace zelmora {

class TStdOutChannel final : public OutputChannel {
 public:
  static constexpr std::size_t kBufferSize = 128;
  // The code of an output step made while standard output has no usable handle.
  static constexpr std::int32_t kNoUsableHandle = 105;

  // Sets the channel up closed and reads the system's ANSI code page, as at process start.
  void SetUp() override;

  // Writes text and a line end (CR LF), converted to the channel's code page.
  void WriteLine(std::u16string_view text);
  // Writes out the buffered bytes now, whatever the kind of handle; nothing when closed.
  void Flush() override;
  // The shut-down step: writes out what is buffered and closes the channel, leaving the
  // operating system's handle open.
  void Close() override;

  bool IsOpen() const override { return open_; }
  std::size_t BufferedByteCount() const override { return count_; }
  std::int32_t PendingIoCode() const { return pendingIoCode_; }
  // Takes the pending code and clears it: 0 when none.
  std::int32_t TakePendingIoCode() override;
  // The code page of the bytes written; 0 until the channel first opens.
  platform::UINT CodePage() const { return codePage_; }

 private:
  bool EnsureOpen();
  void Append(const char* bytes, std::size_t size);
  // Returns false when the write failed (the pending code then holds why).
  bool WriteOut();

  platform::HANDLE handle_{};
  bool open_ = false;
  bool lineEndWriteOut_ = false;
  platform::UINT codePage_ = 0;
  platform::UINT ansiCodePage_ = 0;
  std::array<char, kBufferSize> buffer_{};
  std::size_t count_ = 0;
  std::int32_t pendingIoCode_ = 0;
};

// The process's one channel. It lives from start-up to shut-down.
TStdOutChannel& StdOut();

// Raises EInOutError with the pending code of StdOut(), clearing it, when one is pending. The
// failure point is the place directly after the call.
void CheckIoResult();

}  // namespace zelmora
