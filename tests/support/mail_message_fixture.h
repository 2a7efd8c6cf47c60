// The fixtures of the message reader's tests: each case writes a message file and reads its
// sender and date back as a run reads them (emlx/source_reading.h).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string>

#include "emlx/source_reading.h"
#include "message/message_file.h"
#include "support/temp_folder.h"

namespace drovanta::testing {

namespace fs = std::filesystem;

// A message file's sender and date, read as a run reads them.
class MailMessage {
 public:
  // False when the file cannot be opened or read; the reason is in loadError().
  bool LoadFromFile(const std::string& path) {
    read_ = SourceMessage{};
    MessageFile file;
    if (MaybeFailure failure = file.open(path)) {
      loadError_ = failure->reason;
      return false;
    }
    read_ = ReadSourceMessage(path, file, false);
    loadError_.clear();
    return true;
  }
  const std::string& loadError() const { return loadError_; }
  std::string SenderAddress() const {
    return read_.sender.empty() ? "MAILER-DAEMON" : read_.sender;
  }
  UtcDateTime MessageDate() const { return read_.date; }

 private:
  SourceMessage read_;
  std::string loadError_;
};

struct Fields {
  int year, month, day, hour, minute, second;
};

inline Fields fieldsOf(const UtcDateTime& t) {
  return {t.year, t.month, t.day, t.hour, t.minute, t.second};
}

inline bool operator==(const Fields& a, const Fields& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
         a.minute == b.minute && a.second == b.second;
}

inline std::ostream& operator<<(std::ostream& out, const Fields& f) {
  return out << f.year << "-" << f.month << "-" << f.day << " " << f.hour << ":" << f.minute << ":"
             << f.second;
}

// Sets a file's modification time to the given seconds since the epoch.
inline void setModified(const std::string& path, std::int64_t seconds) {
  using namespace std::chrono;
  const auto when = file_clock::from_sys(sys_seconds(std::chrono::seconds(seconds)));
  fs::last_write_time(path, when);
}

class MailMessageTest : public ::testing::Test {
 protected:
  // Loads a message written to a file of the given name.
  MailMessage& load(const std::string& name, const std::string& bytes) {
    const std::string path = folder_.write(name, bytes);
    EXPECT_TRUE(message_.LoadFromFile(path)) << message_.loadError();
    return message_;
  }
  std::string senderOf(const std::string& headers) {
    return load("m.eml", headers + "\nbody\n").SenderAddress();
  }
  Fields dateOf(const std::string& date) {
    return fieldsOf(load("m.eml", "From: a@b.c\nDate: " + date + "\n\nbody\n").MessageDate());
  }

  TempFolder folder_;
  MailMessage message_;
};

// Every file here is dated 1970-01-02 00:00:00, so a message without a usable Date shows it.
inline constexpr std::int64_t kModified = 86400;

struct Reading {
  std::string sender;
  std::string date;  // "YYYY-MM-DD hh:mm:ss"
};

class MailMessageFieldsTest : public ::testing::Test {
 protected:
  Reading read(const std::string& bytes) {
    const std::string path = folder_.write("m.eml", bytes);
    using namespace std::chrono;
    fs::last_write_time(path, file_clock::from_sys(sys_seconds(seconds(kModified))));
    MailMessage message;
    EXPECT_TRUE(message.LoadFromFile(path)) << message.loadError();
    const UtcDateTime d = message.MessageDate();
    char date[32];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day,
                  d.hour, d.minute, d.second);
    return {message.SenderAddress(), date};
  }
  std::string senderOf(const std::string& bytes) { return read(bytes).sender; }
  std::string dateOf(const std::string& value) {
    return read("From: a@example.com\nDate: " + value + "\n\nbody\n").date;
  }

  TempFolder folder_;
};

inline const std::string kNoDate = "1970-01-02 00:00:00";

}  // namespace drovanta::testing
