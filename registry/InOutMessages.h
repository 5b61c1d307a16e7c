// The messages of I/O failures, by I/O code.
#pragma once

#include <cstdint>
#include <string>

namespace zelmora {

// Start-up service: reads the texts of the I/O message table from the string table.
void LoadInOutMessages();
// Shut-down: forgets them again.
void ReleaseInOutMessages();
bool InOutMessagesLoaded();

// The table's text for the code, or "I/O error <code>" when the table has no row for it.
std::u16string InOutErrorMessage(std::int32_t code);

}  // namespace zelmora
