#pragma once

#include <string>

#include "message/header_fields.h"

namespace drovanta {

// The address the separator line names: the addr-spec of the first mailbox in From; else in
// Sender; else Return-Path's address; else "MAILER-DAEMON". An address that is not printable
// ASCII without a blank is passed over; a domain GMime decoded from punycode is given back in
// its ASCII form.
std::string SenderAddressOf(const HeaderFields& fields);

}  // namespace drovanta
