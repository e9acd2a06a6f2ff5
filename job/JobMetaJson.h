#pragma once
// The line's answer to GET /api/job as a station reads it:
// {"id":N,"name":..,"sha256":"<hex>","size":N,"signature":"<base64>",
//  "quota":N|null,"verified":N,"remaining":N|null}.

#include <optional>
#include <string>
#include <string_view>

#include "job/JobImageStore.h"

namespace voltrix {

// Empty with `error` for anything but such an object with an id, a
// one-line name, 64 hex digits, a size and a signature; "remaining" null or
// a count of at least 0 (a negative one counts as 0). The signature is not
// checked here (see verifyJob).
std::optional<JobMeta> jobMetaOfJson(std::string_view body, std::string& error);

}  // namespace voltrix
