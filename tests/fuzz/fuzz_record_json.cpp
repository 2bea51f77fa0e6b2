// Arbitrary text as a spooled record or a worker's line: the reader either refuses it or gives
// back a record that writes out and reads back the same.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "records/record_json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  records::UnitRecord record;
  std::string error;
  if (!records::RecordFromJson(text, &record, &error)) return 0;
  records::UnitRecord again;
  if (!records::RecordFromJson(records::RecordToJson(record), &again, &error) ||
      records::RecordToJson(again) != records::RecordToJson(record)) {
    std::abort();
  }
  return 0;
}
