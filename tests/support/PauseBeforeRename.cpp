// Loaded into a program under test (LD_PRELOAD): a program about to rename a file says so on
// standard output and waits there for a signal. A test can then interrupt it at exactly the
// moment its temporary file is whole but not yet in place, however busy the machine is.

#include <unistd.h>

extern "C" int rename(const char*, const char*) {
    static const char kNote[] = "about to rename\n";
    [[maybe_unused]] const ssize_t written = ::write(STDOUT_FILENO, kNote, sizeof kNote - 1);
    for (;;) {
        ::pause();
    }
}
