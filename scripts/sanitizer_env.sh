# Sourced by the sanitizer scripts: every report ends the program with a
# failure, leaks included. The suppression files name only frames inside
# uninstrumented system libraries, never morvik's own code.
supp=$(cd "$(dirname "${BASH_SOURCE[0]}")/../tests/sanitizers" && pwd)
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:abort_on_error=0:check_initialization_order=1:strict_init_order=1${ASAN_EXTRA_OPTIONS:+:$ASAN_EXTRA_OPTIONS}"
export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$supp/tsan.supp:print_suppressions=0"
