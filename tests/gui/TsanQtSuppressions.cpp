// Qt hands posted events and pooled tasks from thread to thread under its own
// futex-based locks, which ThreadSanitizer cannot see in a Qt library that
// was not built with it: every worker message the dialog takes out of Qt's
// queue would be reported as a race with the worker that made it. Races in
// our own code between the worker and the dialog (the download state, the
// command) stay reported. Builds without ThreadSanitizer ignore both hooks.

extern "C" const char* __tsan_default_options() {
  return "ignore_noninstrumented_modules=1";
}

extern "C" const char* __tsan_default_suppressions() {
  return "race:voltrix::QtMessageSink::post\n"
         "race:voltrix::MainDialog::event\n";
}
