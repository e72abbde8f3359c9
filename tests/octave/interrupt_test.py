#!/usr/bin/env python3
"""Ctrl-C in a real Octave session: a long spherefill and a long gapsum are
interrupted about a second after they start; each must end within 0.5 s of
the signal, the session must go on, and the next calls of both plug-ins must
give the reference bits.

Usage: interrupt_test.py OCTAVE_CLI PLUGIN_DIR TEST_DIR

Octave reads its commands from a pipe, as an interactive session, so that an
interrupt returns to its prompt instead of ending the process. Every wait has
a watchdog: a lost interrupt fails the test instead of waiting for the call.
"""

import select
import signal
import subprocess
import sys
import time

LIMIT = 0.5  # seconds from the signal to the prompt
WATCHDOG = 30.0


def main():
    octave, plugins, tests = sys.argv[1:4]
    session = subprocess.Popen(
        [octave, "--no-gui", "--norc", "--quiet", "--interactive", "--no-line-editing"],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, bufsize=1)
    seen = []

    def send(line):
        session.stdin.write(line + "\n")
        session.stdin.flush()

    def wait_for(token, timeout=WATCHDOG):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            ready, _, _ = select.select([session.stdout], [], [], 0.01)
            if ready:
                line = session.stdout.readline()
                if not line:
                    return None  # the session ended
                seen.append(line)
                if token in line:
                    return time.monotonic()
        return None

    failures = []

    def interrupt(name, setup, call):
        send(setup)
        send("disp('START'); fflush(stdout); " + call)
        send("disp('PROMPT'); fflush(stdout);")
        if wait_for("START") is None:
            failures.append(name + ": the call did not start")
            return
        time.sleep(1.0)
        signalled = time.monotonic()
        session.send_signal(signal.SIGINT)
        back = wait_for("PROMPT")
        if back is None:
            failures.append(name + ": no prompt within %.0f s of the interrupt" % WATCHDOG)
            return
        print("%s: back at the prompt %.3f s after the interrupt" % (name, back - signalled))
        if back - signalled > LIMIT:
            failures.append(name + ": %.3f s from the interrupt to the prompt" % (back - signalled))

    try:
        send("crash_dumps_octave_core(false); sigterm_dumps_octave_core(false); sighup_dumps_octave_core(false);")
        send("addpath('%s', '%s');" % (plugins, tests))
        # A million spheres near the jamming limit: minutes, uninterrupted.
        interrupt("spherefill", "D = ones(1e6, 1); L = (numel(D) * pi / 6 / 0.37) ^ (1 / 3);",
                  "P = spherefill(D, L, 0);")
        # Every pair of 2e5 spheres: about 2e10 pairs.
        interrupt("gapsum", "Q = [100 * rand(2e5, 3), 0.5 * ones(2e5, 1)];", "S = gapsum(Q, Inf);")
        # The session goes on, and both plug-ins give the reference bits.
        send("clear spherefill; E = [1; 2; 1.5; 0.5; 1]; A = spherefill(E, 6, 0.1); "
             "B = reference_fill(E, 6, 0.1); "
             "same = isequal(typecast(A(:), 'uint64'), typecast(B(:), 'uint64')) && "
             "isequal(typecast(gapsum(A, 0.3), 'uint64'), typecast(reference_gapsum(A, 0.3), 'uint64')); "
             "printf('EXACT %d\\n', same); fflush(stdout);")
        if wait_for("EXACT") is None or "EXACT 1" not in seen[-1]:
            failures.append("the calls after the interrupts are not exact: " + "".join(seen[-3:]))
        send("exit(0)")
        session.wait(WATCHDOG)
    except subprocess.TimeoutExpired:
        failures.append("the session did not end")
    finally:
        if session.poll() is None:
            session.kill()

    for f in failures:
        print("FAILED: " + f)
    print("interrupt_test: %d passed, %d failed" % (3 - min(3, len(failures)), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
