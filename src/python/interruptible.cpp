// The signal watch of numeric work run without the interpreter lock.
#include "python/interruptible.hpp"

#include <pthread.h>
#include <unistd.h>

namespace vorlane::py {
namespace {

// Python runs signal handlers on the thread that started the interpreter,
// which is the process's first thread (thread id equal to the process id);
// in a forked child it is the thread that forked, again the first one.
// Each thread asks the kernel once (two system calls, a good part of a
// short fit) and keeps the answer; the thread that forks forgets its answer
// in the child, where it has become the first thread.
enum class ThreadRole : signed char { Unknown, Main, Other };
thread_local ThreadRole role = ThreadRole::Unknown;

void forget_role() { role = ThreadRole::Unknown; }

bool on_main_thread() {
    static const bool registered = pthread_atfork(nullptr, nullptr, forget_role) == 0;
    if (role == ThreadRole::Unknown || !registered) role = gettid() == getpid() ? ThreadRole::Main : ThreadRole::Other;
    return role == ThreadRole::Main;
}

}  // namespace

InterruptibleRelease::InterruptibleRelease() : state_(PyEval_SaveThread()) {
    if (!on_main_thread()) return;
    cancellation_.emplace([this] { return check_signals(); });
    scope_.emplace(&*cancellation_);
}

InterruptibleRelease::~InterruptibleRelease() {
    scope_.reset();
    PyEval_RestoreThread(state_);
}

bool InterruptibleRelease::check_signals() {
    PyEval_RestoreThread(state_);
    const bool raised = PyErr_CheckSignals() != 0;
    state_ = PyEval_SaveThread();
    return raised;
}

}  // namespace vorlane::py
