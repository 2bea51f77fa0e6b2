#include "tools/jig/records_command.h"

#include <getopt.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "records/record_store.h"
#include "records/spooled_store.h"
#include "tools/jig/jig_options.h"

namespace jig {

namespace {

constexpr const char* kUsage =
    "usage: tracker-jig records [list] [--spool PATH]\n"
    "       tracker-jig records resend [--records URL] [--spool PATH] (--all | RECORD_ID...)\n"
    "       tracker-jig records export [--spool PATH] [--output FILE]\n"
    "\n"
    "Records that wait in the local spool for their store, and records the store refused\n"
    "(set aside, with the reason), until they are sent again.\n"
    "\n"
    "  list              one line per record: waiting or set aside, id, store, reason\n"
    "  resend            put the set-aside records named (or --all) back in line and send\n"
    "                    everything waiting to the store (--records URL, as for a run)\n"
    "  export            every record in the spool as JSON lines, to FILE or stdout\n"
    "  --spool PATH      the spool file (default: spool.sqlite beside the default records)\n"
    "  --records URL     the store to send to (default: as a run without --records)\n"
    "  --all             resend every record set aside\n"
    "  --output FILE     where export writes\n"
    "  --help            this text\n"
    "\n"
    "Exit status: 0 done, 3 usage error or the spool cannot be read, 4 records still not in\n"
    "their store.\n";

struct RecordsOptions {
  std::string action = "list";
  std::string spool = records::DefaultSpoolPath();
  std::string records;
  std::string output;
  bool all = false;
  bool help = false;
  std::vector<std::string> ids;
};

// False with a message when the command line is not understood.
bool ParseRecordsOptions(int argc, char** argv, RecordsOptions* out, std::string* error) {
  static const option kOptions[] = {
      {"spool", required_argument, nullptr, 's'},  {"records", required_argument, nullptr, 'r'},
      {"output", required_argument, nullptr, 'o'}, {"all", no_argument, nullptr, 'a'},
      {"help", no_argument, nullptr, 'h'},         {nullptr, 0, nullptr, 0}};
  opterr = 0;
  optind = 1;
  int code;
  while ((code = getopt_long(argc, argv, ":", kOptions, nullptr)) != -1) {
    switch (code) {
      case 's':
        out->spool = optarg;
        break;
      case 'r':
        out->records = optarg;
        break;
      case 'o':
        out->output = optarg;
        break;
      case 'a':
        out->all = true;
        break;
      case 'h':
        out->help = true;
        break;
      case ':':
        *error = std::string(argv[optind - 1]) + " wants a value";
        return false;
      default:
        *error = std::string("unknown option ") + argv[optind - 1];
        return false;
    }
  }
  std::vector<std::string> words(argv + optind, argv + argc);
  if (!words.empty()) {
    out->action = words.front();
    words.erase(words.begin());
  }
  if (out->action != "list" && out->action != "resend" && out->action != "export") {
    *error = "unknown records action \"" + out->action + "\" (list, resend, export)";
    return false;
  }
  out->ids = std::move(words);
  if (out->action != "resend" && (out->all || !out->ids.empty())) {
    *error = "record ids and --all go with resend";
    return false;
  }
  if (out->all && !out->ids.empty()) {
    *error = "--all or record ids, not both";
    return false;
  }
  return true;
}

int List(const std::vector<records::SpooledRecord>& spooled) {
  for (const records::SpooledRecord& r : spooled) {
    if (r.quarantined) {
      std::printf("set aside  %s  %s  since %s  %s: %s\n", r.recordId.c_str(), r.target.c_str(),
                  r.sinceUtc.c_str(), r.fault.c_str(), r.reason.c_str());
    } else {
      std::printf("waiting    %s  %s\n", r.recordId.c_str(), r.target.c_str());
    }
  }
  std::printf("%zu record(s) not in their store\n", spooled.size());
  return spooled.empty() ? kExitAllPassed : kExitRecordsNotStored;
}

int Export(const std::vector<records::SpooledRecord>& spooled, const std::string& output) {
  std::string lines;
  for (const records::SpooledRecord& r : spooled) {
    nlohmann::ordered_json line = {{"list", r.quarantined ? "set aside" : "waiting"},
                                   {"target", r.target},
                                   {"record_id", r.recordId}};
    if (r.quarantined) {
      line["fault"] = r.fault;
      line["reason"] = r.reason;
      line["since_utc"] = r.sinceUtc;
    }
    // The payload is kept as it was written; one that is not JSON goes as text.
    const auto record = nlohmann::ordered_json::parse(r.payload, nullptr, false);
    line["record"] = record.is_discarded() ? nlohmann::ordered_json(r.payload) : record;
    lines += line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
  }
  if (output.empty()) {
    std::fputs(lines.c_str(), stdout);
    return kExitAllPassed;
  }
  std::ofstream file(output, std::ios::binary | std::ios::trunc);
  file << lines;
  file.close();
  if (!file) {
    std::fprintf(stderr, "tracker-jig records: cannot write %s\n", output.c_str());
    return kExitUsage;
  }
  std::printf("%zu record(s) written to %s\n", spooled.size(), output.c_str());
  return kExitAllPassed;
}

int Resend(const RecordsOptions& options) {
  std::size_t moved = 0;
  if (options.all || !options.ids.empty()) {
    const records::StoreStatus requeued =
        records::RequeueQuarantined(options.spool, options.ids, &moved);
    if (!requeued.ok) {
      std::fprintf(stderr, "tracker-jig records: %s\n", requeued.message.c_str());
      return kExitUsage;
    }
  }
  records::StoreStatus status;
  const std::unique_ptr<records::RecordStore> store = records::OpenStore(options.records, &status);
  if (!store) {
    std::fprintf(stderr, "tracker-jig records: %s\n", status.message.c_str());
    return kExitRecordsNotStored;
  }
  const records::StoreStatus flushed = store->Flush();
  std::printf("%zu set-aside record(s) back in line\n", moved);
  if (!status.message.empty()) std::printf("%s\n", status.message.c_str());
  if (!flushed.message.empty()) std::printf("%s\n", flushed.message.c_str());
  std::vector<records::SpooledRecord> left;
  records::ListSpool(options.spool, &left);
  std::size_t notStored = 0;
  for (const records::SpooledRecord& r : left) notStored += r.target == store->Identity() ? 1 : 0;
  std::printf("%zu record(s) for %s still not in it\n", notStored, store->Describe().c_str());
  return notStored == 0 ? kExitAllPassed : kExitRecordsNotStored;
}

}  // namespace

int RunRecordsCommand(int argc, char** argv) {
  RecordsOptions options;
  if (std::string error; !ParseRecordsOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "tracker-jig records: %s (see tracker-jig records --help)\n",
                 error.c_str());
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return kExitAllPassed;
  }
  if (options.action == "resend") return Resend(options);
  std::vector<records::SpooledRecord> spooled;
  if (const records::StoreStatus read = records::ListSpool(options.spool, &spooled); !read.ok) {
    std::fprintf(stderr, "tracker-jig records: %s\n", read.message.c_str());
    return kExitUsage;
  }
  return options.action == "list" ? List(spooled) : Export(spooled, options.output);
}

}  // namespace jig
