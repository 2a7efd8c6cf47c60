#include "message/sender_address.h"

#include <gmime/gmime.h>

#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "message/gmime_setup.h"

namespace drovanta {

namespace {

// Owns one GObject reference.
template <typename T>
struct GObjectRef {
  T* ptr = nullptr;
  explicit GObjectRef(T* p) : ptr(p) {}
  ~GObjectRef() {
    if (ptr != nullptr) g_object_unref(ptr);
  }
  GObjectRef(const GObjectRef&) = delete;
  GObjectRef& operator=(const GObjectRef&) = delete;
};

// A separator line is read as ASCII by mbox readers (Python's refuses any other byte), and a
// blank would split the sender in two: only printable ASCII without a space will do.
bool usableAddress(std::string_view address) {
  if (address.empty()) return false;
  for (const char c : address) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F) return false;
  }
  return true;
}

// The addr-spec of the first mailbox in the list, looking inside groups.
const char* firstMailbox(InternetAddressList* list) {
  if (list == nullptr) return nullptr;
  const int count = internet_address_list_length(list);
  for (int i = 0; i < count; ++i) {
    InternetAddress* address = internet_address_list_get_address(list, i);
    if (INTERNET_ADDRESS_IS_GROUP(address)) {
      const char* inside =
          firstMailbox(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)));
      if (inside != nullptr) return inside;
    } else if (INTERNET_ADDRESS_IS_MAILBOX(address)) {
      // GMime decodes a punycode domain: its ASCII form is the address as the message wrote it.
      InternetAddressMailbox* mailbox = INTERNET_ADDRESS_MAILBOX(address);
      const char* addr = internet_address_mailbox_get_addr(mailbox);
      if (addr != nullptr && !usableAddress(addr)) {
        const char* ascii = internet_address_mailbox_get_idn_addr(mailbox);
        if (ascii != nullptr && usableAddress(ascii)) return ascii;
      }
      return addr;
    }
  }
  return nullptr;
}

// The address forms nearly every message carries, "Display Name <local@domain>" or a bare
// "local@domain", with plain words and atoms only, read without GMime. Anything else (quotes,
// comments, encoded words, several addresses, 8-bit text, punycode domains, which GMime
// decodes) is left to GMime: nullopt.
std::optional<std::string_view> commonAddress(std::string_view raw) {
  const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  const auto isAlnum = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  };
  while (!raw.empty() && isSpace(raw.front())) raw.remove_prefix(1);
  while (!raw.empty() && isSpace(raw.back())) raw.remove_suffix(1);
  if (raw.ends_with('>')) {
    const std::size_t open = raw.find('<');
    if (open == std::string_view::npos) return std::nullopt;
    // A dot only right after a letter or digit ("John Q. Public").
    for (std::size_t i = 0; i < open; ++i) {
      const char c = raw[i];
      if (c == '.' ? i == 0 || !isAlnum(raw[i - 1])
                   : !isAlnum(c) && !isSpace(c) && c != '-' && c != '_' && c != '\'')
        return std::nullopt;
    }
    raw = raw.substr(open + 1, raw.size() - open - 2);
  }
  // Dot-separated runs of letters, digits and a few atom characters, no empty run.
  const auto dotAtom = [&](std::string_view text, std::string_view extra) {
    if (text.empty() || text.front() == '.' || text.back() == '.') return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char c = text[i];
      if (c == '.') {
        if (text[i - 1] == '.') return false;
      } else if (!isAlnum(c) && extra.find(c) == std::string_view::npos) {
        return false;
      }
    }
    return true;
  };
  const std::size_t at = raw.find('@');
  if (at == std::string_view::npos) return std::nullopt;
  const std::string_view local = raw.substr(0, at);
  const std::string_view domain = raw.substr(at + 1);
  if (!dotAtom(local, "_+-") || !dotAtom(domain, "-")) return std::nullopt;
  for (std::size_t i = 0; i + 4 <= domain.size(); ++i) {
    if ((domain[i] | 0x20) == 'x' && (domain[i + 1] | 0x20) == 'n' && domain[i + 2] == '-' &&
        domain[i + 3] == '-')
      return std::nullopt;
  }
  return raw;
}

// The addr-spec of the first mailbox in one address field, read from its raw value as GMime's
// message reads it; empty when there is none. internet_address_list_parse gives nothing for a
// list it cannot finish (an unclosed comment, say), where a message keeps the addresses read
// before the fault, so such a field is read through a message of that field alone.
std::string firstMailboxIn(const char* name, std::string_view raw) {
  if (const auto address = commonAddress(raw)) return std::string(*address);
  EnsureGMime();
  const std::string value(raw);
  {
    GObjectRef<InternetAddressList> list(internet_address_list_parse(nullptr, value.c_str()));
    if (list.ptr != nullptr) {
      const char* address = firstMailbox(list.ptr);
      return address != nullptr ? address : "";
    }
  }
  std::string text = std::string(name) + ":" + value;
  if (!text.ends_with('\n')) text += '\n';
  text += '\n';
  GObjectRef<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(text.data(), text.size()));
  GObjectRef<GMimeParser> parser(g_mime_parser_new_with_stream(stream.ptr));
  GObjectRef<GMimeMessage> message(g_mime_parser_construct_message(parser.ptr, nullptr));
  if (message.ptr == nullptr) return {};
  const char* address =
      firstMailbox(std::string_view(name) == "From" ? g_mime_message_get_from(message.ptr)
                                                    : g_mime_message_get_sender(message.ptr));
  return address != nullptr ? address : "";
}

// The first mailbox over all the fields of one name, as GMime joins their address lists.
std::string firstMailboxOf(const char* name, const std::vector<std::string_view>& values) {
  for (const std::string_view raw : values) {
    std::string address = firstMailboxIn(name, raw);
    if (!address.empty()) return address;
  }
  return {};
}

}  // namespace

std::string SenderAddressOf(const HeaderFields& fields) {
  if (fields.isMessage) {
    for (const auto& [name, values] :
         {std::pair{"From", &fields.from}, std::pair{"Sender", &fields.sender}}) {
      const std::string address = firstMailboxOf(name, *values);
      if (!address.empty() && usableAddress(address)) return address;
    }
    if (fields.returnPath) {
      const std::string returnPath = DecodedFieldValue(*fields.returnPath);
      std::string_view path(returnPath);
      while (!path.empty() && (path.front() == ' ' || path.front() == '\t')) path.remove_prefix(1);
      while (!path.empty() && (path.back() == ' ' || path.back() == '\t')) path.remove_suffix(1);
      if (path.starts_with('<')) {
        const std::size_t close = path.find('>');
        path = path.substr(1, close == std::string_view::npos ? path.size() - 1 : close - 1);
      }
      if (usableAddress(path)) return std::string(path);
    }
  }
  return "MAILER-DAEMON";
}

}  // namespace drovanta
