// The standard-output channel as the process entry drives it. The channel itself belongs to the
// installation above; the entry only sets it up, lets printed text out before a report, and
// closes it at shut-down.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zelmora {

class OutputChannel {
 public:
  // Sets the channel up closed; it opens at its first write.
  virtual void SetUp() = 0;
  virtual bool IsOpen() const = 0;
  virtual std::size_t BufferedByteCount() const = 0;
  // Writes out the buffered bytes whatever the kind of handle; a failure leaves a pending code.
  virtual void Flush() = 0;
  // Writes out the buffered bytes and closes the channel, leaving the system's handle open.
  virtual void Close() = 0;
  // Takes the pending I/O code and clears it: 0 when none.
  virtual std::int32_t TakePendingIoCode() = 0;

 protected:
  ~OutputChannel() = default;
};

}  // namespace zelmora
