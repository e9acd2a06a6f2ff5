#pragma once
// A station's verified job images on its disk: each image in a folder under
// its sha256, and a small JSON note naming the last good job, so that a
// station that restarts goes on with the image it last took (checked again
// with the keys it trusts then) rather than with nothing.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "job/JobSignature.h"

namespace voltrix {

// What the line says of a job, beside its bytes.
struct JobMeta {
  std::int64_t id = 0;
  std::string name;    // the image's name as published ("sysbin.bin")
  std::string sha256;  // lowercase hex
  std::uint64_t size = 0;
  std::string signature;  // base64
  // How many verified devices the job may still make; empty without a quota.
  std::optional<std::int64_t> remaining;
};

class JobImageStore {
 public:
  explicit JobImageStore(std::string folder);

  const std::string& folder() const { return folder_; }
  // Where the image of a job with `sha256` lies.
  std::string imagePath(const std::string& sha256) const;

  // Writes verified bytes under their sha256; the path, or empty with
  // `error`. The note of the last good job is not changed.
  std::optional<std::string> writeImage(std::span<const std::uint8_t> bytes, const JobMeta& meta,
                                        std::string& error);
  // Makes `meta` the last good job and removes the images of others.
  bool remember(const JobMeta& meta, std::string& error);
  // Removes an image written for a job that was not taken after all.
  void forget(const JobMeta& meta);

  struct Restored {
    std::optional<JobMeta> meta;  // none: no last good job, or it failed
    std::vector<std::uint8_t> bytes;
    std::string imagePath;
    // Why a job noted as last good was not restored; empty otherwise.
    std::string problem;
  };
  // The last good job, its image read and checked again with `trustedKeys`.
  Restored restore(const std::vector<PublicKey>& trustedKeys) const;

 private:
  std::string notePath() const;
  std::string folder_;
};

}  // namespace voltrix
