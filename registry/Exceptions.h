// The failures of the tool. Every failure is an object of a class derived from Exception, and
// the failure report prints ClassName() exactly as the class is spelled here.
#pragma once

#include <cstdint>
#include <new>
#include <string>
#include <string_view>

namespace zelmora {

class Exception {
 public:
  explicit Exception(std::u16string message) : message_(std::move(message)) {}
  virtual ~Exception() = default;

  const std::u16string& Message() const { return message_; }
  virtual std::u16string_view ClassName() const { return u"Exception"; }

  // The code address at which the failure was raised, when the raiser knows it.
  const void* FailurePoint() const { return failurePoint_; }
  void SetFailurePoint(const void* address) { failurePoint_ = address; }

 private:
  std::u16string message_;
  const void* failurePoint_ = nullptr;
};

// A registry value that could not be stored.
class ERegistryException : public Exception {
 public:
  using Exception::Exception;
  std::u16string_view ClassName() const override { return u"ERegistryException"; }
};

// A failed console output; ErrorCode is the I/O code, the message comes from the I/O table.
class EInOutError : public Exception {
 public:
  explicit EInOutError(std::int32_t errorCode);
  std::int32_t ErrorCode() const { return errorCode_; }
  std::u16string_view ClassName() const override { return u"EInOutError"; }

 private:
  std::int32_t errorCode_;
};

class EHeapException : public Exception {
 public:
  using Exception::Exception;
  std::u16string_view ClassName() const override { return u"EHeapException"; }
  // False until shut-down: freeing the shared instance is refused while it is false (see
  // FreeOutOfMemoryInstance), so that a handler that is done with it never destroys it.
  bool AllowFree() const { return allowFree_; }
  void SetAllowFree(bool allow) { allowFree_ = allow; }

 private:
  bool allowFree_ = false;
};

// Memory exhaustion. It is also a std::bad_alloc, so that the C++ runtime's allocation paths
// (which may only throw bad_alloc) can raise it.
class EOutOfMemory : public EHeapException, public std::bad_alloc {
 public:
  using EHeapException::EHeapException;
  std::u16string_view ClassName() const override { return u"EOutOfMemory"; }
  const char* what() const noexcept override { return "Out of memory"; }
};

}  // namespace zelmora
