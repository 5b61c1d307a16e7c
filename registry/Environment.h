// The process environment as both programs read it: the tool its TEMP, the launcher TEMP and the
// folders its log may go to.
#pragma once

#include <string>

namespace zelmora {

// The variable's value exactly as stored; empty when it is unset or empty.
std::u16string EnvironmentValue(const std::u16string& name);

}  // namespace zelmora
