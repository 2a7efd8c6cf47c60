#pragma once

#include <string>
#include <utility>
#include <vector>

namespace drovanta {

// The rows a run converts. The row count is read once at the start; the path of row i is read
// at the start of turn i, so a window's list can change under a running conversion; a row that
// is gone by then should read as empty text, which the run passes over.
class RowSource {
 public:
  virtual ~RowSource() = default;
  virtual long rowCount() = 0;
  virtual std::string rowText(long row) = 0;
};

class VectorRowSource : public RowSource {
 public:
  explicit VectorRowSource(std::vector<std::string> rows) : rows_(std::move(rows)) {}
  long rowCount() override { return static_cast<long>(rows_.size()); }
  std::string rowText(long row) override { return rows_.at(static_cast<std::size_t>(row)); }

 private:
  std::vector<std::string> rows_;
};

// Some rows of a list the caller keeps (all of them, or those `picked`, in that order), read
// where they lie: a run over 200,000 rows must not hold its rows twice.
class RowsView : public RowSource {
 public:
  explicit RowsView(const std::vector<std::string>& rows, const std::vector<long>* picked = nullptr)
      : rows_(rows), picked_(picked) {}
  long rowCount() override {
    return static_cast<long>(picked_ != nullptr ? picked_->size() : rows_.size());
  }
  std::string rowText(long row) override {
    const auto at = static_cast<std::size_t>(row);
    return rows_.at(picked_ != nullptr ? static_cast<std::size_t>(picked_->at(at)) : at);
  }

 private:
  const std::vector<std::string>& rows_;
  const std::vector<long>* const picked_;
};

// The message path of a row's text: the text itself, spaces and all, as rows come from dialogs
// and walks, which give real names, and a name may end in spaces. A row of spaces only (the
// single empty row of an empty list) gives "", and is passed over.
std::string MessagePathOfRow(const std::string& rowText);

}  // namespace drovanta
