// Windows command lines: split into arguments as the C runtime splits them for main, and made
// from arguments so that it gives them back whole. The launcher reads its options with these on
// every build, and the POSIX back-end builds its command line and a child's argv with them.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zelmora::platform {

// The program name, then each argument. The program name runs up to its closing quote when it
// starts with one, else up to the first space or tab; it knows no escapes. Arguments are
// separated by spaces and tabs; a quote opens or closes a quoted part, in which spaces are kept
// and a doubled quote stands for one; backslashes count only before a quote, where each pair
// gives one backslash and an odd one makes the quote literal.
std::vector<std::u16string> SplitCommandLine(std::u16string_view commandLine);

// The argument as it must stand in a command line for SplitCommandLine to give it back: as it is
// when it needs no quotes, else quoted with the backslashes and quotes inside escaped.
std::u16string QuoteArgument(std::u16string_view argument);

// The program name in quotes, then each argument quoted, separated by spaces. A program name
// cannot carry a quote (nothing escapes one there): any is left out.
std::u16string JoinCommandLine(std::u16string_view programName,
                               std::span<const std::u16string> arguments);

}  // namespace zelmora::platform
