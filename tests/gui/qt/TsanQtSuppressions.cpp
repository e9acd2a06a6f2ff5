// Qt from the distribution is not built with ThreadSanitizer: its own
// locking cannot be seen, so reports from inside its libraries are noise.
// Our code hands worker messages over through an instrumented queue and
// touches Qt on one thread only, so nothing of ours is hidden by this.
// Builds without ThreadSanitizer ignore the hook.

extern "C" const char* __tsan_default_options() {
  return "ignore_noninstrumented_modules=1";
}
