// Checking a record against the model of the hardware: the recorded writes are replayed into the
// virtual adapter and cart, and every recorded read is compared with what the model answers, as
// far as the model can know it:
//  - the adapter's registers, the cart's identifier and query table: always;
//  - the status: once the hardware says it is ready (how long a real chip stays busy is its own
//    business, so the model is let finish at once and a busy answer is not compared);
//  - the cart's contents: what the record itself wrote, erased or read before. The model starts
//    from unknown contents: it runs twice, on a cart of zeros and on one of ones, and a bit is
//    known where both agree; a read of unknown bits teaches both what the hardware answered.
// The cable's own lines (data register, control read-back, the ECR) are not compared.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "trace/Decoder.h"

namespace brevomat::trace {

struct CheckResult {
  bool opened = false;
  std::string error;  // why the record could not be read
  bool agrees = true;
  std::uint64_t accesses = 0, compared = 0, unknown = 0;
  // Where hardware and model part: the access, what each answered, and the decoded context.
  Access first;
  std::uint16_t model = 0;
  std::uint16_t mask = 0;                  // the bits compared
  std::vector<DecodedLine> before, after;  // cart-level lines
  std::vector<Access> rawBefore, rawAfter;
  std::string modelViolation;  // the first rule of the cable the record broke, for the model
  bool cutShort = false;
  std::string problem;
};

CheckResult CheckRecord(const std::string& path);

// The verdict as the program prints it: "agrees" with the counts, or where the two part.
std::vector<std::string> CheckReport(const CheckResult& result);

}  // namespace brevomat::trace
