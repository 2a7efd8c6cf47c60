// Putting back the stripped parts of a partial message, in a store that holds an attachment
// folder, an .emlxpart file and a link out of the store for the parts to be looked for in.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "emlx/partial_message.h"
#include "fuzz_files.h"

namespace {

// The store, made once: Messages/1.partial.emlx is the message; Attachments/1/2/ holds a file,
// 1.3.emlxpart stands beside the message, Attachments/1/4 is a link to a secret.
const std::string& messagePath() {
  static const std::string path = [] {
    using drovanta::fuzzing::scratchFolder;
    using drovanta::fuzzing::writeFile;
    const std::string root = scratchFolder();
    for (const char* folder :
         {"/Messages", "/Attachments", "/Attachments/1", "/Attachments/1/2", "/outside"}) {
      ::mkdir((root + folder).c_str(), 0700);
    }
    writeFile("Attachments/1/2/data.bin", std::string("attachment\0bytes\r\n", 18));
    writeFile("Messages/1.3.emlxpart", "ZW1seHBhcnQ=\n");
    writeFile("outside/secret", "SECRET");
    if (::symlink((root + "/outside").c_str(), (root + "/Attachments/1/4").c_str()) != 0) {
      std::abort();
    }
    return root + "/Messages/1.partial.emlx";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes = drovanta::fuzzing::bytesOf(data, size);
  const drovanta::RebuiltMessage rebuilt = drovanta::RebuildPartialMessage(messagePath(), bytes);
  // Nothing from outside the store gets in.
  for (const std::string_view secret : {"SECRET", "U0VDUkVU"}) {  // as it is, and in base64
    if (rebuilt.bytes.find(secret) != std::string::npos &&
        bytes.find(secret) == std::string_view::npos)
      std::abort();
  }
  return 0;
}
