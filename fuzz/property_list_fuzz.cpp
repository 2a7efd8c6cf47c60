// Apple Mail's XML property list, as it follows a message.
#include "emlx/property_list.h"
#include "fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const drovanta::EmlxProperties properties =
      drovanta::ParsePropertyList(drovanta::fuzzing::bytesOf(data, size));
  (void)properties;
  return 0;
}
