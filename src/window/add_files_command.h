#pragma once

namespace drovanta {

class StepWindow;

// The add-files command: lets the user pick message files in the open-file dialog and replaces
// the list with them, each as a full path. Cancelling leaves the list as it was.
void AddFilesCommand(StepWindow& form);

}  // namespace drovanta
