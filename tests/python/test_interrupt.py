"""Ctrl-C during long calls: SIGINT sent to a child process running one
long call must end that call with KeyboardInterrupt within half a second,
leaving the worker pool and caches as usable as before."""

import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

# The child fits a reference spectrum, starts the long call, reports the
# moment it catches KeyboardInterrupt, then fits the reference again.
CHILD = textwrap.dedent("""
    import signal, sys, time
    import numpy as np
    import vorlane

    # A shell starts background jobs with SIGINT ignored, and children inherit that.
    signal.signal(signal.SIGINT, signal.default_int_handler)

    freqs = np.logspace(-2, 5, 60)
    truth = vorlane.Circuit("R0-(R1,C1)-(R2,CPE2)").with_values([10.0, 40.0, 1e-5, 80.0, 1e-3, 0.8])
    z = truth.impedance(freqs)
    start = vorlane.Circuit("R0-(R1,C1)-(R2,CPE2)").with_values([5.0, 20.0, 1e-4, 50.0, 1e-2, 0.7])

    def reference():
        r = start.fit(freqs, z, guess_init=False)
        return repr((r.params, r.stderr, r.cost, r.iterations))

    before = reference()
    big_freqs = np.logspace(-3, 6, 400000)
    long_circuit = vorlane.Circuit("-".join("(R%d,C%d)" % (i, i) for i in range(60)))
    print("started", flush=True)
    try:
        {call}
        print("finished", flush=True)
    except KeyboardInterrupt:
        print("interrupted %r" % time.monotonic(), flush=True)
    # The pool and the caches work as before the interrupt.
    assert long_circuit.impedance(big_freqs[:20000]).shape == (20000,)
    print("same" if reference() == before else "different", flush=True)
""")

LONG_CALLS = {
    "differential_evolution": "start.fit(freqs, z, guess_init=False, method='differential_evolution', "
                              "de_evaluations=10**9)",
    "particle_swarm": "start.fit(freqs, z, guess_init=False, method='particle_swarm', generations=10**9)",
    "simulated_annealing": "start.fit(freqs, z, guess_init=False, method='simulated_annealing', "
                           "sa_iterations=10**12)",
    "basin_hopping": "start.fit(freqs, z, guess_init=False, method='basin_hopping', basin_hopping_hops=10**9)",
    "fit_many": "start.fit_many([(freqs, z)] * 1000, method='differential_evolution', de_evaluations=10**9)",
    "levenberg_marquardt": "long_circuit.fit(big_freqs[:20000], np.ones(20000), guess_init=False, "
                           "max_iterations=10**9)",
    "guess": "rc = vorlane.Circuit('R0-(R1,C1)').with_values([10.0, 100.0, 1e-5]); "
             "big_z = rc.impedance(big_freqs); [rc.guess(big_freqs, big_z) for _ in range(1000)]",
    "kramers_kronig": "rc = vorlane.Circuit('R0-(R1,C1)').with_values([10.0, 100.0, 1e-5]); "
                      "big_z = rc.impedance(big_freqs); [vorlane.kramers_kronig(big_freqs, big_z) for _ in range(100)]",
    "impedance": "[long_circuit.impedance(big_freqs) for _ in range(100)]",
    "residuals": "[long_circuit.residuals(long_circuit.param_values(), big_freqs, np.ones(len(big_freqs))) "
                 "for _ in range(100)]",
    "jacobian": "[long_circuit.jacobian(long_circuit.param_values(), big_freqs[:2000], np.ones(2000)) "
                "for _ in range(1000)]",
}

SETTLE_SECONDS = 0.5
DEADLINE_SECONDS = 0.5


def interrupt_child(call, settle_seconds=SETTLE_SECONDS, ready=False):
    """Runs `call` (Python source) in a child, sends it SIGINT once the call
    has run for `settle_seconds` (counted from its line "ready" when `ready`);
    the moment of sending and the child's output lines."""
    script = CHILD.format(call=textwrap.dedent(call).replace("\n", "\n    "))
    child = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             text=True)
    with child:
        try:
            assert child.stdout.readline() == "started\n"
            if ready:
                assert child.stdout.readline() == "ready\n"
            time.sleep(settle_seconds)
            sent = time.monotonic()
            child.send_signal(signal.SIGINT)
            out, err = child.communicate(timeout=60)
        finally:
            child.kill()
    assert child.returncode == 0, err
    return sent, out.split("\n")


@pytest.mark.parametrize("call", LONG_CALLS.values(), ids=LONG_CALLS.keys())
def test_sigint_ends_a_long_call_promptly(call):
    # A load spike on a shared machine can hold up one child; the deadline
    # must hold in one of two tries.
    delays = []
    for _ in range(2):
        sent, lines = interrupt_child(call)
        word, caught = lines[0].split()
        assert word == "interrupted"
        assert lines[1] == "same"
        delays.append(float(caught) - sent)
        if delays[-1] < DEADLINE_SECONDS:
            break
    assert min(delays) < DEADLINE_SECONDS


# Single calls on many points, their input made before the line "ready":
# every loop over the points, the sorts and the allocations among them, polls.
ONE_LONG_CALL = {
    "guess_of_ten_million_points": "huge_f = np.logspace(-3, 6, 10**7); "
                                   "huge_z = vorlane.Circuit('R0-(R1,C1)').with_values([10.0, 100.0, 1e-5])"
                                   ".impedance(huge_f); rc = vorlane.Circuit('R0-(R1,C1)'); print('ready', flush=True); "
                                   "[rc.guess(huge_f, huge_z) for _ in range(10)]",
    "kramers_kronig_of_a_hundred_elements": "f5 = big_freqs[::4]; z5 = long_circuit.impedance(f5); "
                                            "print('ready', flush=True); "
                                            "[vorlane.kramers_kronig(f5, z5, m=100) for _ in range(100)]",
}


@pytest.mark.parametrize("call", ONE_LONG_CALL.values(), ids=ONE_LONG_CALL.keys())
def test_sigint_ends_one_call_on_many_points_promptly(call):
    delays = []
    for _ in range(2):
        sent, lines = interrupt_child(call, settle_seconds=0.7, ready=True)
        word, caught = lines[0].split()
        assert word == "interrupted"
        assert lines[1] == "same"
        delays.append(float(caught) - sent)
        if delays[-1] < DEADLINE_SECONDS:
            break
    assert min(delays) < DEADLINE_SECONDS


# A deterministic call of about a second.
STEADY = "[start.fit(freqs, z, guess_init=False).params for _ in range(1000)]"


def test_a_call_from_another_thread_is_not_interrupted():
    # Thread.join interrupted by Ctrl-C may return early on this Python, so
    # the main thread waits by polling.
    _, lines = interrupt_child(f"""
        import threading
        results = []
        worker = threading.Thread(target=lambda: results.append({STEADY}))
        worker.start()
        while worker.is_alive():
            try:
                time.sleep(0.01)
            except KeyboardInterrupt:
                print("main", flush=True)
        print("thread", "same" if repr(results[0]) == repr({STEADY}) else "different", flush=True)
    """, settle_seconds=0.2)
    assert lines[:4] == ["main", "thread same", "finished", "same"]


def test_a_signal_handler_that_does_not_raise_lets_the_call_finish():
    _, lines = interrupt_child(f"""
        import signal
        signal.signal(signal.SIGINT, lambda *_: print("handled", flush=True))
        result = {STEADY}
        print("call", "same" if repr(result) == repr({STEADY}) else "different", flush=True)
    """, settle_seconds=0.2)
    assert lines[:4] == ["handled", "call same", "finished", "same"]


def test_a_thread_that_forks_watches_for_signals_in_the_child():
    # The forking thread has fitted before, as a thread other than the main
    # one; in the child it is the main thread and Ctrl-C must reach its calls.
    script = textwrap.dedent("""
        import os, signal, threading
        import numpy as np
        import vorlane

        signal.signal(signal.SIGINT, signal.default_int_handler)
        freqs = np.logspace(-2, 5, 60)
        rc = vorlane.Circuit("R0-(R1,C1)").with_values([10.0, 100.0, 1e-5])
        long_circuit = vorlane.Circuit("-".join("(R%d,C%d)" % (i, i) for i in range(60)))
        big_freqs = np.logspace(-3, 6, 400000)

        # One long call: between calls Python would raise the interrupt anyway.
        def fit_then_fork():
            rc.fit(freqs, rc.impedance(freqs), guess_init=False)
            pid = os.fork()
            if pid == 0:
                signal.alarm(30)  # ends the child should Ctrl-C go unnoticed
                threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT)).start()
                try:
                    long_circuit.fit(big_freqs[:20000], np.ones(20000), guess_init=False, max_iterations=10**9)
                    os.write(1, b"finished\\n")
                except KeyboardInterrupt:
                    os.write(1, b"interrupted\\n")
                os._exit(0)
            os.waitpid(pid, 0)

        thread = threading.Thread(target=fit_then_fork)
        thread.start()
        thread.join()
    """)
    done = subprocess.run([sys.executable, "-W", "ignore", "-c", script], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    assert done.stdout == "interrupted\n"
