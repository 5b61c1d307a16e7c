// Processor faults and the end of the process on POSIX. The fault signals are taken on a stack
// of their own, so that a stack overflow is caught too, and described for the handler.
#include <signal.h>
#include <sys/resource.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <optional>

#include "platform/posix/ErrnoCodes.h"
#include "platform/posix/PosixPlatform.h"

namespace zelmora::platform {
namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};

// Room for the handler and the report it makes (whose large buffers are static) when the
// faulting stack has none left.
alignas(64) unsigned char alternateStack[128 * 1024];

FaultHandler faultHandler = nullptr;
volatile std::sig_atomic_t handlingFault = 0;

// What the main thread's stack may grow into: from where the handler was installed down by the
// stack's size limit, and the gap below it that the system keeps unmapped. A fault there is a
// stack overflow. Mappings start far lower, so nothing else lies in this range.
std::uintptr_t stackTop = 0;
std::uintptr_t stackBottom = 0;
constexpr std::uintptr_t kLargestStack = std::uintptr_t{1} << 30;
constexpr std::uintptr_t kStackGuardGap = std::uintptr_t{1} << 20;

void MarkStack() {
  stackTop = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  std::uintptr_t size = kLargestStack;
  rlimit limit{};
  if (getrlimit(RLIMIT_STACK, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      limit.rlim_cur < size) {
    size = static_cast<std::uintptr_t>(limit.rlim_cur);
  }
  size += kStackGuardGap;
  stackBottom = stackTop > size ? stackTop - size : 0;
}

// What the interrupted context tells: the instruction, and for a page fault whether it wrote.
struct Registers {
  const void* instruction = nullptr;
  std::optional<bool> write;
};

Registers RegistersOf([[maybe_unused]] const void* context) {
#if defined(__x86_64__)
  const auto& machine = static_cast<const ucontext_t*>(context)->uc_mcontext;
  constexpr greg_t kWriteBit = 2;  // of the page-fault error code
  return {reinterpret_cast<const void*>(machine.gregs[REG_RIP]),
          (machine.gregs[REG_ERR] & kWriteBit) != 0};
#elif defined(__aarch64__)
  return {reinterpret_cast<const void*>(static_cast<const ucontext_t*>(context)->uc_mcontext.pc),
          std::nullopt};
#else
  return {};
#endif
}

ProcessorFault Describe(int signal, const siginfo_t& info, const void* context) {
  const Registers registers = RegistersOf(context);
  ProcessorFault fault{FaultKind::IllegalInstruction, registers.instruction, nullptr};
  if (signal == SIGFPE) {
    fault.kind = info.si_code == FPE_INTDIV   ? FaultKind::DivisionByZero
                 : info.si_code == FPE_INTOVF ? FaultKind::IntegerOverflow
                                              : FaultKind::FloatingPoint;
  } else if (signal == SIGSEGV || signal == SIGBUS) {
    fault.accessed = info.si_addr;
    const auto address = reinterpret_cast<std::uintptr_t>(info.si_addr);
    // Only a page fault tells the direction; a protection fault of another kind tells nothing.
    const bool pageFault = signal == SIGSEGV
                               ? info.si_code == SEGV_MAPERR || info.si_code == SEGV_ACCERR
                               : info.si_code == BUS_ADRERR;
    if (signal == SIGSEGV && pageFault && address >= stackBottom && address < stackTop) {
      fault.kind = FaultKind::StackOverflow;
    } else if (pageFault && registers.write) {
      fault.kind = *registers.write ? FaultKind::InvalidWrite : FaultKind::InvalidRead;
    } else {
      fault.kind = FaultKind::InvalidAccess;
    }
    return fault;
  }
  // For these the system gives the instruction's address itself.
  if (fault.instruction == nullptr) fault.instruction = info.si_addr;
  return fault;
}

void OnFaultSignal(int signal, siginfo_t* info, void* context) {
  if (info->si_code <= 0) {
    // Sent by a process, not raised by an instruction: no processor fault. It ends the process
    // as it would without the handler.
    std::signal(signal, SIG_DFL);
    raise(signal);
    return;
  }
  handlingFault = 1;
  faultHandler(Describe(signal, *info, context));
  _exit(1);  // the handler ends the process; should it return, this does
}

}  // namespace

BOOL PosixPlatform::InstallFaultHandler(FaultHandler handler) {
  stack_t stack{};
  stack.ss_sp = alternateStack;
  stack.ss_size = sizeof alternateStack;
  if (sigaltstack(&stack, nullptr) != 0) {
    Fail(Win32ErrorFromErrno(errno));
    return 0;
  }
  MarkStack();
  faultHandler = handler;
  struct sigaction action {};
  action.sa_sigaction = &OnFaultSignal;
  // Not blocked while handled: a fault inside the handler must reach it again, where a blocked
  // one would end the process by the system's default, with a core file.
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  sigset_t faultSignals;
  sigemptyset(&faultSignals);
  for (const int signal : kFaultSignals) {
    if (sigaction(signal, &action, nullptr) != 0) {
      Fail(Win32ErrorFromErrno(errno));
      return 0;
    }
    sigaddset(&faultSignals, signal);
  }
  // A parent (a wrapper, a service manager) may have started the process with them blocked, and
  // a blocked fault signal ends the process by the system's default, however it is handled.
  const int unblocked = pthread_sigmask(SIG_UNBLOCK, &faultSignals, nullptr);
  if (unblocked != 0) {
    Fail(Win32ErrorFromErrno(unblocked));
    return 0;
  }
  return 1;
}

void PosixPlatform::ExitProcess(UINT exitCode) {
  // After a fault, only at once: exit's clean-up is not safe in a signal handler.
  if (handlingFault != 0) _exit(static_cast<int>(exitCode));
  // Otherwise through exit, not _exit: a process ends with its run-time's own clean-up, as on
  // Windows.
  std::exit(static_cast<int>(exitCode));
}

}  // namespace zelmora::platform
