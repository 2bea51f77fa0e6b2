#include "records/schema.h"

namespace records {

namespace {

// Version 1: one row per unit, the read-back mismatches and the failure reasons as child rows
// in the order they were found (seq). Times are ISO 8601 UTC text, which sorts as time.
const std::vector<Migration> kMigrations = {
    {1,
     {
         "CREATE TABLE unit_record ("
         " record_id TEXT PRIMARY KEY,"
         " started_utc TEXT NOT NULL,"
         " ended_utc TEXT NOT NULL,"
         " station TEXT NOT NULL,"
         " operator_name TEXT NOT NULL,"
         " port TEXT NOT NULL,"
         " usb_identity TEXT NOT NULL,"
         " imei TEXT NOT NULL,"
         " firmware TEXT NOT NULL,"
         " gsm_signal TEXT NOT NULL,"
         " gps_count TEXT NOT NULL,"
         " agps_count TEXT NOT NULL,"
         " sim TEXT NOT NULL,"
         " test_gsm INTEGER,"
         " test_gps INTEGER,"
         " test_key INTEGER,"
         " ttff_seconds REAL,"
         " satellites_used INTEGER,"
         " best_signal_dbhz INTEGER,"
         " profile_name TEXT NOT NULL,"
         " profile_hash TEXT NOT NULL,"
         " passed INTEGER NOT NULL,"
         " console_version TEXT NOT NULL)",
         "CREATE INDEX unit_record_started ON unit_record (started_utc)",
         "CREATE INDEX unit_record_imei ON unit_record (imei, started_utc)",
         "CREATE TABLE unit_mismatch ("
         " record_id TEXT NOT NULL REFERENCES unit_record (record_id) ON DELETE CASCADE,"
         " seq INTEGER NOT NULL,"
         " field TEXT NOT NULL,"
         " expected TEXT NOT NULL,"
         " actual TEXT NOT NULL,"
         " PRIMARY KEY (record_id, seq))",
         "CREATE TABLE unit_reason ("
         " record_id TEXT NOT NULL REFERENCES unit_record (record_id) ON DELETE CASCADE,"
         " seq INTEGER NOT NULL,"
         " step TEXT NOT NULL,"
         " expected TEXT NOT NULL,"
         " actual TEXT NOT NULL,"
         " PRIMARY KEY (record_id, seq))",
     }},
    // Version 2: the figures read a window of start times: these indexes answer them from the
    // index alone. On a server, every stored record notifies the boards that listen.
    {2,
     {
         "CREATE INDEX unit_record_window ON unit_record"
         " (started_utc, station, passed, imei, record_id)",
         "CREATE INDEX unit_record_gps ON unit_record"
         " (started_utc, ttff_seconds, satellites_used, best_signal_dbhz)",
     },
     {
         "CREATE FUNCTION unit_record_notify() RETURNS trigger LANGUAGE plpgsql AS"
         " $$BEGIN PERFORM pg_notify('unit_record_stored', NEW.station); RETURN NULL; END$$",
         "CREATE TRIGGER unit_record_stored AFTER INSERT ON unit_record"
         " FOR EACH ROW EXECUTE FUNCTION unit_record_notify()",
     }},
};

}  // namespace

const std::vector<Migration>& Migrations() {
  return kMigrations;
}

int CurrentSchemaVersion() {
  return kMigrations.back().version;
}

}  // namespace records
