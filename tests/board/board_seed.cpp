// Stores the records given as JSON lines on stdin through the store's own Append, as a station
// would; prints "stored N" at the end. The browser test writes its generated records with it.

#include <cstdio>
#include <iostream>
#include <string>

#include "records/record_json.h"
#include "records/record_store.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: board_seed URL < records.jsonl\n");
    return 2;
  }
  records::StoreStatus status;
  auto store = records::OpenStore(argv[1], &status);
  if (!store) {
    std::fprintf(stderr, "board_seed: %s\n", status.message.c_str());
    return 1;
  }
  std::string line, error;
  int stored = 0;
  while (std::getline(std::cin, line)) {
    records::UnitRecord record;
    if (!records::RecordFromJson(line, &record, &error)) {
      std::fprintf(stderr, "board_seed: %s\n", error.c_str());
      return 1;
    }
    status = store->Append(record);
    if (!status.ok) {
      std::fprintf(stderr, "board_seed: %s\n", status.message.c_str());
      return 1;
    }
    // One line back per record, so a caller can wait for each.
    std::printf("stored %d\n", ++stored);
    std::fflush(stdout);
  }
  return 0;
}
