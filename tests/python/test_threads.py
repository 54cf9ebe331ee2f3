import sys
import threading

from korvel import _native

THREADS = 8
ROUNDS = 2000
NAMES = ["example.com", "shop.example.com", "ab.co.uk", "example.de", "ZA.sk", "exämple.com", "example.test", ""]
SUFFIXES = ["de", "co.uk", "рф", "*.ck", "google", "nope"]
INFO_ATTRIBUTES = ["tld", "registerable", "reason", "note", "restrictions", "min_length", "max_length",
                   "length_basis", "banned", "charset", "idn_chars", "sources"]


def test_import_leaves_the_gil_disabled():
    assert _native.Registry is not None
    assert sys._is_gil_enabled() is False


def check_view(result):
    return result.status, result.reasons, repr(result), str(result)


def info_view(info):
    if info is None:
        return None
    return tuple(getattr(info, name) for name in INFO_ATTRIBUTES) + (repr(info),)


def test_threads_share_one_registry_and_its_results():
    registry = _native.Registry()
    shared_result = registry.check("example.com")
    shared_info = registry.tld_info("co.uk")
    expected_checks = {name: check_view(registry.check(name)) for name in NAMES}
    expected_infos = {tld: info_view(registry.tld_info(tld)) for tld in SUFFIXES}
    expected_count = registry.rule_count()
    expected_stats = list(registry.stats().items())
    expected_shared = (check_view(shared_result), info_view(shared_info))

    barrier = threading.Barrier(THREADS)
    failures = []
    rounds_done = [0] * THREADS

    def work(index):
        try:
            barrier.wait()
            for n in range(ROUNDS):
                name = NAMES[(index + n) % len(NAMES)]
                tld = SUFFIXES[(index + n) % len(SUFFIXES)]
                got = (
                    check_view(registry.check(name)),
                    info_view(registry.tld_info(tld)),
                    registry.rule_count(),
                    list(registry.stats().items()),
                    (check_view(shared_result), info_view(shared_info)),
                )
                want = (expected_checks[name], expected_infos[tld], expected_count, expected_stats, expected_shared)
                if got != want:
                    failures.append((index, n, got, want))
                    return
                rounds_done[index] += 1
        except BaseException as exc:  # noqa: BLE001 - report anything, borrows included
            failures.append((index, repr(exc)))

    threads = [threading.Thread(target=work, args=(i,)) for i in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []
    assert rounds_done == [ROUNDS] * THREADS
    assert sys._is_gil_enabled() is False
