#include "data/OverlayCsv.h"

#include <algorithm>
#include <charconv>

#include "data/LogFileV2.h"
#include "data/RecordPeriod.h"
#include "data/Registers.h"

namespace {

constexpr const ValueColumn& kRpm = ValueRowOf("rpm");
constexpr const ValueColumn& kSpeed = ValueRowOf("speed");
constexpr const ValueColumn& kThrottle = ValueRowOf("throttle");

bool Sent(const ValueColumn& column, const SampleRecord& record) {
  const RegisterMask needed = RegistersOf(column);
  return (SentRegisters(record) & needed) == needed;
}

void AppendNumber(std::string& line, double value, int decimals) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  line.append(text, result.ptr);
}

}  // namespace

ThrottleSpan ThrottleSpanOf(const RecordSource& records, int64_t first, int64_t last) {
  ThrottleSpan span;
  first = std::max<int64_t>(first, 0);
  last = std::min<int64_t>(last, static_cast<int64_t>(records.Count()) - 1);
  if (first > last) return span;
  records.Visit(static_cast<uint32_t>(first), static_cast<uint32_t>(last - first + 1),
                [&](uint32_t, std::span<const SampleRecord> block) {
                  for (const SampleRecord& record : block) {
                    if (!Sent(kThrottle, record)) continue;
                    const int32_t mv = ConvertValue(kThrottle, record);
                    span.closedMv = std::min(span.closedMv, mv);
                    span.openMv = std::max(span.openMv, mv);
                  }
                });
  return span;
}

double ThrottlePercent(int32_t mv, const ThrottleSpan& span) {
  const double percent = 100.0 * (mv - span.closedMv) / (span.openMv - span.closedMv);
  return std::clamp(percent, 0.0, 100.0);
}

std::string OverlayCsvNamesLine() { return "Time,RPM,KPH,Throttle"; }

std::string OverlayCsvLine(int64_t startUtcMs, uint32_t index, const SampleRecord& record, const ThrottleSpan& span,
                           double speedFactor) {
  std::string line = UtcIsoText(startUtcMs + static_cast<int64_t>(index) * kRecordPeriodMs);
  line += ',';
  if (Sent(kRpm, record)) AppendNumber(line, ExactValue(kRpm, record), ExactDecimals(kRpm));
  line += ',';
  if (Sent(kSpeed, record)) AppendNumber(line, ExactValue(kSpeed, record) * speedFactor, 1);
  line += ',';
  if (Sent(kThrottle, record)) AppendNumber(line, ThrottlePercent(ConvertValue(kThrottle, record), span), 1);
  return line;
}
