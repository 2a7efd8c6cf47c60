#pragma once

namespace drovanta {

class StepWindow;

// The add-files command: empties the list, lets the user pick message files in the open-file
// dialog and puts each picked file into the list as a full path.
void AddFilesCommand(StepWindow& form);

}  // namespace drovanta
