#include "line/LineSchema.h"

namespace voltrix {

namespace {

constexpr const char* kMigrations[] = {
    // 1: the stations, their runs and slots, the control audit, the tokens'
    // roles and the jobs.
    R"sql(
CREATE TABLE stations(
  name text PRIMARY KEY,
  version text,
  first_seen_at timestamptz NOT NULL DEFAULT now(),
  last_seen_at timestamptz NOT NULL DEFAULT now());

CREATE TABLE runs(
  id text PRIMARY KEY,
  station text, version text, start timestamptz, "end" timestamptz,
  slot text, port text, usb_vid_pid text, usb_serial text, usb_path text,
  image_path text, image_sha256 text, segments bigint, bytes bigint, seconds double precision,
  result text, exit_code bigint, label text, failure_kind text, failed_segment bigint,
  failed_address text, hint text, run_folder text,
  record text NOT NULL,
  received_at timestamptz NOT NULL DEFAULT now(),
  seq bigint GENERATED ALWAYS AS IDENTITY UNIQUE);
CREATE INDEX runs_by_time ON runs ((coalesce("end", start)));
CREATE INDEX runs_by_station ON runs (station, (coalesce("end", start)));
CREATE INDEX runs_by_image ON runs (image_sha256);

CREATE TABLE slots(
  station text NOT NULL, slot text NOT NULL, label text, port text, state text,
  last_result text, last_run_id text, updated_at timestamptz,
  PRIMARY KEY (station, slot));

CREATE TABLE control_audit(
  id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  at timestamptz NOT NULL DEFAULT now(),
  station text,
  role text, who text, action text NOT NULL, remote_address text, result text);

CREATE TABLE tokens(
  token_sha256 text PRIMARY KEY CHECK (token_sha256 ~ '^[0-9a-f]{64}$'),
  role text NOT NULL CHECK (role IN ('viewer', 'operator', 'engineer', 'station', 'admin')),
  name text,
  created_at timestamptz NOT NULL DEFAULT now(),
  revoked_at timestamptz);

CREATE TABLE jobs(
  id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  name text NOT NULL,
  sha256 text NOT NULL CHECK (sha256 ~ '^[0-9a-f]{64}$'),
  signature text NOT NULL,
  size bigint NOT NULL CHECK (size >= 0),
  created_at timestamptz NOT NULL DEFAULT now(),
  created_by text,
  quota bigint CHECK (quota > 0));
)sql",
    // 2: a job's image bytes, and which job is current (one at most).
    R"sql(
ALTER TABLE jobs ADD COLUMN image bytea;
ALTER TABLE jobs ADD CONSTRAINT jobs_image_size CHECK (image IS NULL OR octet_length(image) = size);
ALTER TABLE jobs ADD COLUMN current boolean NOT NULL DEFAULT false;
CREATE UNIQUE INDEX jobs_one_current ON jobs (current) WHERE current;
)sql",
};

}  // namespace

std::span<const char* const> lineMigrations() {
  return kMigrations;
}

}  // namespace voltrix
