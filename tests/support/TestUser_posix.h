#pragma once
// The ordinary account that checks run under when the suite runs as root,
// since root reads, writes and opens whatever the permissions say.
// scripts/test.sh makes it; a test that needs it fails without it.

#include <sys/types.h>

#include <optional>
#include <string>

namespace voltrix::test {

inline constexpr char kTestUserName[] = "voltrix-test";

struct TestUser {
  uid_t uid;
  gid_t gid;
};

// The account by name; nullopt when this machine has none.
std::optional<TestUser> findTestUser();
// What a test reports when the account is missing.
std::string missingTestUserMessage();
// In a forked child: gives up root for the account, groups included. False
// when the kernel refused.
bool becomeTestUser(const TestUser& user);

}  // namespace voltrix::test
