// Every allocation of a whole process in turn fails, through the C++ run-time's own path.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <regex>

#include "entry/ProcessEntry.h"
#include "platform/scripted/ScriptedPlatform.h"
#include "registry/Exceptions.h"
#include "registry/OutOfMemory.h"
#include "tests/support/RunFixture.h"

namespace {

// The allocation hook: counts allocations while armed and fails the chosen one.
bool armed = false;
long allocations = 0;
long failAt = -1;
long live = 0;
long otherObjectsRaised = 0;  // raised by the handler, but not the instance made at start-up

const zelmora::EOutOfMemory* TheInstance() {
  if (!zelmora::OutOfMemoryInstance()) return nullptr;
  try {
    std::rethrow_exception(zelmora::OutOfMemoryInstance());
  } catch (const zelmora::EOutOfMemory& made) {
    return &made;
  } catch (...) {
  }
  return nullptr;
}

void* Allocate(std::size_t size) {
  for (;;) {
    if (armed && ++allocations == failAt) {
      // As the run-time does: ask the new handler, which raises (or gives up).
      if (std::new_handler handler = std::get_new_handler()) {
        failAt = -1;  // a handler that makes room would let the retry through
        try {
          handler();
        } catch (const zelmora::EOutOfMemory& raised) {
          if (&raised != TheInstance()) ++otherObjectsRaised;
          throw;
        } catch (...) {
          ++otherObjectsRaised;
          throw;
        }
        continue;
      }
      throw std::bad_alloc();
    }
    if (void* block = std::malloc(size == 0 ? 1 : size)) {
      ++live;
      return block;
    }
    throw std::bad_alloc();
  }
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* block) noexcept {
  if (block != nullptr) --live;
  std::free(block);
}
void operator delete[](void* block) noexcept { operator delete(block); }
void operator delete(void* block, std::size_t) noexcept { operator delete(block); }
void operator delete[](void* block, std::size_t) noexcept { operator delete(block); }

namespace zelmora::testing {
namespace {

using platform::ScriptedPlatform;

struct Ending {
  platform::UINT status = 999;
  std::string out;
  std::string err;
  long allocationsMade = 0;
  long leaked = 0;  // blocks allocated during the process and never freed
  long otherObjectsRaised = 0;
};

Ending RunProcess(long failing) {
  Ending ending;
  ending.out.reserve(1024);  // so that keeping the output allocates nothing
  ending.err.reserve(4096);
  const long liveAtStart = live;
  {
    ScriptedPlatform platform;
    platform.environment[u"TEMP"] = u"C:\\Users\\jdoe\\AppData\\Local\\Temp";
    // Its message comes from an override file, read at start-up before the instance is made.
    platform.files[u"C:\\Program Files\\Quorvane\\zelmora-setup.en-US"] =
        "65525 = No memory left\n";
    platform::ScopedSystem system(platform);
    ExitStatus = 0;
    allocations = 0;
    otherObjectsRaised = 0;
    failAt = failing;
    armed = true;
    try {
      ProcessEntry(ToolInstallation());
    } catch (const platform::ProcessExit& exit) {
      ending.status = exit.status;
    }
    armed = false;
    ending.out.assign(platform.out.bytes);
    ending.err.assign(platform.err.bytes);
  }
  ending.allocationsMade = allocations;
  ending.leaked = live - liveAtStart;
  ending.otherObjectsRaised = otherObjectsRaised;
  return ending;
}

TEST(MemoryExhaustion, EveryAllocationOfARunFailingInTurnEndsAsTheProcessRulesAllow) {
  const Ending clean = RunProcess(-1);
  ASSERT_EQ(clean.status, 0u);
  ASSERT_EQ(clean.out, "Zelmora Installed\r\n");
  ASSERT_GT(clean.allocationsMade, 50);
  EXPECT_EQ(clean.leaked, 0);

  const std::regex report(
      "Exception EOutOfMemory in module zelmora-setup\\.exe at [0-9A-F]{16}\\.\r\n"
      "No memory left\\.\r\n\r\n");
  std::map<std::string, int> outcomes;
  for (long k = 1; k <= clean.allocationsMade; ++k) {
    SCOPED_TRACE(::testing::Message() << "allocation " << k);
    const Ending ending = RunProcess(k);
    EXPECT_EQ(ending.leaked, 0);
    EXPECT_EQ(ending.otherObjectsRaised, 0);  // every exhaustion raises the one instance
    if (ending.status == 217) {
      EXPECT_EQ(ending.out, "Runtime error 217 at 0000000000000000\r\n");
      EXPECT_EQ(ending.err, "");
      ++outcomes["fallback"];
    } else if (ending.status == 1) {
      EXPECT_TRUE(std::regex_match(ending.err, report)) << ending.err;
      ++outcomes["report"];
    } else {
      ASSERT_EQ(ending.status, 0u);
      EXPECT_EQ(ending.err, "");
      EXPECT_TRUE(ending.out == "Installation Error\r\n" ||
                  ending.out == "Error in accessing the registry\r\nInstallation Error\r\n" ||
                  ending.out == "Zelmora Installed\r\n")
          << ending.out;
      ++outcomes[ending.out];
    }
  }
  // Each kind of place was met: start-up, the unguarded steps, and the guarded stages; and
  // the message lookup, which gives up its file and lets the run complete.
  EXPECT_GT(outcomes["Zelmora Installed\r\n"], 3);
  EXPECT_GT(outcomes["fallback"], 0);
  EXPECT_GT(outcomes["report"], 0);
  EXPECT_GT(outcomes["Installation Error\r\n"], 0);
}

// The scripted platform logs every call; the log must not add allocations of its own to those
// that the test above fails in turn.
TEST(MemoryExhaustion, LoggingACallAllocatesNothing) {
  ScriptedPlatform platform;
  const std::u16string name(40, u'V');  // longer than a string keeps without allocating
  char16_t buffer[256];
  allocations = 0;
  failAt = -1;
  armed = true;
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(platform.GetEnvironmentVariableW(name.c_str(), buffer, 256), 0u);
    EXPECT_NE(platform.RegCloseKey(static_cast<platform::HKEY>(~std::uintptr_t{0})), 0);
    EXPECT_GT(platform.LoadStringW(platform::kExecutableModule, 65525, buffer, 256), 0);
  }
  armed = false;
  EXPECT_EQ(platform.Log().size(), 300u);
  EXPECT_EQ(allocations, 0);
}

}  // namespace
}  // namespace zelmora::testing
