#include "run/row_source.h"

namespace drovanta {

std::string MessagePathOfRow(const std::string& rowText) {
  if (rowText.find_first_not_of(' ') == std::string::npos) return {};
  return rowText;
}

}  // namespace drovanta
