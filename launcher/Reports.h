// The reports left in an administrator's folder (/reports FOLDER): one file per user and
// computer, <computer>-<domain>-<user>.log, written after a run that did not set up and removed
// after one that did, so that the folder lists exactly the users still to look at.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/Platform.h"

namespace zelmora::launcher {

// text with every character a file name cannot hold made "_": < > : " / \ | ? *, controls, and
// dots and spaces at its end.
std::u16string FileNamePart(std::u16string_view text);

// This user's report name: the computer's name and the account's domain and logon name (a name
// without a domain has the computer's), each part made fit for a file name. None when the system
// tells no names.
std::optional<std::u16string> ReportName();

// The report's first line, in ASCII: its status, what it means and the tool's build ("unknown"
// when the tool's identity is not known), ended by CR LF.
std::string ReportHeading(platform::UINT status, std::u16string_view identity);

// Writes the report: its heading and the captured bytes. One that cannot be written changes
// nothing.
void WriteReport(const std::u16string& folder, platform::UINT status, std::u16string_view identity,
                 std::string_view captured, char16_t separator);

// Removes this user's report, where the folder allows it.
void RemoveReport(const std::u16string& folder, char16_t separator);

}  // namespace zelmora::launcher
