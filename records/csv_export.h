#pragma once
// Records as CSV (RFC 4180: comma separated, CR LF line ends, fields quoted where needed, quotes
// doubled), UTF-8, one header line then one line per record.

#include <string>
#include <vector>

#include "records/record_store.h"

namespace records {

std::string CsvField(const std::string& text);
std::string CsvHeader();
std::string CsvRow(const UnitRecord& record);

// Writes the records matching `filter` to `path`, whole or not at all (written beside it, then
// renamed over it): a store that cannot give every record whole fails the export. The message
// names the file. Text cells that start with =, +, -, @, TAB or CR get a leading apostrophe, so
// a spreadsheet shows them instead of running them; `byteOrderMark` starts the file with
// UTF-8's mark, which spreadsheets need to read it as UTF-8.
StoreStatus ExportCsv(RecordStore& store, const RecordFilter& filter, const std::string& path,
                      std::size_t* written = nullptr, bool byteOrderMark = false);

}  // namespace records
