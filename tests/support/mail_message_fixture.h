// The fixtures of the message reader's tests: each case writes a message file and reads it
// back through MailMessage, the way the separator line reads it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string>

#include "emlx/mail_message.h"
#include "support/temp_folder.h"

namespace drovanta::testing {

namespace fs = std::filesystem;

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
