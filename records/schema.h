#pragma once
// The records schema, written once in SQL that both SQLite and PostgreSQL accept: TEXT, INTEGER
// (64-bit in both via BIGINT where ids grow), REAL, flags as INTEGER 0/1. Migration n brings a
// store from version n-1 to n; a store keeps its version in schema_version.

#include <string_view>
#include <vector>

namespace records {

struct Migration {
  int version;                                     // the version this migration reaches
  std::vector<std::string_view> steps;             // statements, run in order in one transaction
  std::vector<std::string_view> serverSteps = {};  // then these, on PostgreSQL only
};

// Every migration, oldest first; the last one's version is the current schema.
const std::vector<Migration>& Migrations();
int CurrentSchemaVersion();

// Creates the version table when missing (portable).
inline constexpr std::string_view kCreateVersionTable =
    "CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)";

}  // namespace records
