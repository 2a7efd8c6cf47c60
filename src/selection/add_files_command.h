#pragma once

namespace drovanta {

class frmStep1;

// The add-files command: empties the list, lets the user pick message files in the open-file
// dialog and puts each picked file into the list as a full path.
void AddFilesCommand(frmStep1& form);

}  // namespace drovanta
