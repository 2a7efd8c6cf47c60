#pragma once

#include <string>

#include "message/header_fields.h"

namespace drovanta {

// The address the separator line names: the addr-spec of the first mailbox in From; else in
// Sender; else Return-Path's address; else "MAILER-DAEMON". An address with white space or
// control characters in it is passed over. Non-ASCII addresses come as UTF-8 bytes.
std::string SenderAddressOf(const HeaderFields& fields);

}  // namespace drovanta
