"""Timings of calls through the module, standard library only.

    .venv/bin/python bench/bench_module.py [--seconds 1.0]

Single-threaded: Registry.check on a few names, tld_info("co.uk") and TldInfo
attribute reads, in microseconds per call (best of several repeats).
Threads: check("example.com") throughput with 1, 2 and nproc threads sharing
one Registry, against the ideal of T times one thread.
Targets on 3.13t: under 1 us per check("example.com"), under 1.5 us per
tld_info("co.uk"), throughput with T threads at least 0.8 x T x one thread.
"""

import argparse
import os
import sys
import threading
import time
import timeit

from korvel import Registry

NAMES = ["example.com", "shop.example.com", "ab.co.uk", "exämple.com", "example.test"]


def per_call_us(statement, env, seconds):
    timer = timeit.Timer(statement, globals=env)
    number, _ = timer.autorange()
    repeats = max(3, int(seconds / max(timer.timeit(number), 1e-9)))
    best = min(timer.repeat(repeat=min(repeats, 15), number=number))
    return best / number * 1e6


def throughput(registry, threads, seconds):
    """check() calls per second, all threads together."""
    barrier = threading.Barrier(threads + 1)
    stop = threading.Event()
    counts = [0] * threads

    def work(i):
        check = registry.check
        # A str of this thread's own: a shared constant's reference count
        # would be contended by the threads and measure the interpreter.
        name = "".join(["example", ".com"])
        n = 0
        barrier.wait()
        while not stop.is_set():
            for _ in range(200):
                check(name)
            n += 200
        counts[i] = n

    pool = [threading.Thread(target=work, args=(i,)) for i in range(threads)]
    for t in pool:
        t.start()
    barrier.wait()
    start = time.perf_counter()
    time.sleep(seconds)
    stop.set()
    for t in pool:
        t.join()
    return sum(counts) / (time.perf_counter() - start)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=1.0)
    args = parser.parse_args()

    gil = sys._is_gil_enabled() if hasattr(sys, "_is_gil_enabled") else True
    print(f"Python {sys.version.split()[0]}, GIL {'enabled' if gil else 'disabled'}, {os.cpu_count()} CPUs")

    registry = Registry()
    info = registry.tld_info("co.uk")
    env = {"r": registry, "info": info}
    print("\nper call (us)")
    rows = [(f"check({name!r})", f"r.check({name!r})") for name in NAMES] + [
        ("tld_info('co.uk')", "r.tld_info('co.uk')"),
        ("tld_info('nope')", "r.tld_info('nope')"),
        ("TldInfo.tld", "info.tld"),
        ("TldInfo.min_length", "info.min_length"),
        ("TldInfo.sources", "info.sources"),
        ("repr(TldInfo)", "repr(info)"),
        ("rule_count()", "r.rule_count()"),
        ("stats()", "r.stats()"),
    ]
    for label, statement in rows:
        print(f"  {label:<33}{per_call_us(statement, env, args.seconds):8.3f}")

    print("\nthroughput of check('example.com'), one shared Registry")
    counts = sorted({1, 2, os.cpu_count() or 1})
    one = None
    for threads in counts:
        rate = throughput(registry, threads, args.seconds)
        one = one or rate
        print(f"  {threads} thread(s): {rate / 1e6:6.3f} M calls/s   {rate / (threads * one):5.2f} x ideal")


if __name__ == "__main__":
    main()
