// The signal watch of numeric work run without the interpreter lock.
#include "python/interruptible.hpp"

#include <unistd.h>

namespace vorlane::py {
namespace {

// Python runs signal handlers on the thread that started the interpreter,
// which is the process's first thread (thread id equal to the process id);
// in a forked child it is the thread that forked, again the first one.
bool on_main_thread() { return gettid() == getpid(); }

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
