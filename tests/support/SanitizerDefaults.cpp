// The sanitizer settings of every test and fuzz program, compiled in so that a test run by
// hand, by CTest or by a debugger behaves the same. The environment can still override them.

extern "C" {

// Stack use after return catches coroutine parameters and frames that outlive their owner.
const char* __asan_default_options() {
    return "detect_stack_use_after_return=1:detect_leaks=1:strict_init_order=1";
}

// GLib, GTK, fontconfig and the X libraries keep some memory for the life of the process.
const char* __lsan_default_options() { return "suppressions=" TALVERIN_LSAN_SUPPRESSIONS; }

// The web engine's JavaScript library reaches the program's instrumented shared pointers (see
// the suppressions file): without them any test of a page may stop when its collector runs.
const char* __ubsan_default_options() {
    return "print_stacktrace=1:halt_on_error=1:suppressions=" TALVERIN_UBSAN_SUPPRESSIONS;
}

const char* __tsan_default_options() { return "halt_on_error=1:second_deadlock_stack=1"; }
}
