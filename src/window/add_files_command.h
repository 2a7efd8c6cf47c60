#pragma once

namespace drovanta {

struct AddingWindow;

// The add-files command: lets the user pick message files in the open-file dialog and replaces
// the list with them, each as a full path, in natural order (9.emlx before 10.emlx). Cancelling
// leaves the list as it was.
void AddFilesCommand(const AddingWindow& window);

}  // namespace drovanta
