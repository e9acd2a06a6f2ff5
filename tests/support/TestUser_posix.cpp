#include "tests/support/TestUser_posix.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace voltrix::test {

std::optional<TestUser> findTestUser() {
  const passwd* entry = ::getpwnam(kTestUserName);
  if (entry == nullptr) return std::nullopt;
  return TestUser{entry->pw_uid, entry->pw_gid};
}

std::string missingTestUserMessage() {
  return std::string("no user '") + kTestUserName +
         "' to run this check as (scripts/test.sh makes it: useradd --system " + kTestUserName +
         ")";
}

bool becomeTestUser(const TestUser& user) {
  return ::setgroups(0, nullptr) == 0 && ::setgid(user.gid) == 0 && ::setuid(user.uid) == 0 &&
         ::geteuid() == user.uid;
}

}  // namespace voltrix::test
