#pragma once

#include <cstdint>
#include <string>

namespace drovanta {

class StepWindow;

// How much of a message file has been read, in whole percent rounded half to even.
double MessageReadPercent(std::uint64_t textLength, std::uint64_t fileLength);

// The setting that keeps the last destination used, from one start of the program to the next.
inline constexpr const char* kLastDestinationSetting = "lastDestination";

// The Convert command: says so when the list is empty; otherwise asks for a destination folder
// outside the folders being converted, and converts every listed message into the mailbox
// files under it with the command line's parallel engine on threads of its own. Meanwhile the
// window only shows the progress, at most 60 times a second, and only Escape, Help and Exit
// act. Then it reports the end.
void ConvertCommand(StepWindow& form);

}  // namespace drovanta
