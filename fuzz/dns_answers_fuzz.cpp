// DNS messages, over UDP and over TCP: bounded reads, names checked and cut.
#include <cstddef>
#include <cstdint>
#include <span>

#include "attribution/names/dns_answers.h"
#include "attribution/names/host_name_text.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  for (const auto message : {bytes, quorvel::DnsMessageInTcp(bytes)}) {
    const auto answers = quorvel::ReadDnsAnswers(message);
    FUZZ_CHECK(answers.size() <= quorvel::kMaxDnsRecords);
    for (const auto& answer : answers) {
      FUZZ_CHECK(!answer.name.empty() && answer.name.size() <= quorvel::kMaxObservedNameLength);
      FUZZ_CHECK(quorvel::CleanHostName(answer.name) == answer.name);
      FUZZ_CHECK(answer.addressSize == 4 || answer.addressSize == 16);
    }
  }
  return 0;
}
