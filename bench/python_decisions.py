"""Decisions per second for one policy, in one Python process: Policy.run in process against
starting qrv-verifier for each decision through subprocess.run, the route a harness takes without
the module.

    PYTHONPATH=build/python python3 bench/python_decisions.py build/bin d1_decision.tarn

Prints the time per decision of each route (the best of five rounds) and their ratio.
"""

import subprocess
import sys
import time
from pathlib import Path

import tarn


def per_call(action, calls, rounds=5):
    best = float("inf")
    for _ in range(rounds):
        start = time.perf_counter()
        for _ in range(calls):
            action()
        best = min(best, (time.perf_counter() - start) / calls)
    return best


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    verifier = str(Path(sys.argv[1]).resolve() / "qrv-verifier")
    script = Path(sys.argv[2]).resolve()
    policy = tarn.compile(script.read_text(), name=script.name)
    assert policy.run()["decision"] == "ALLOW"
    command = [verifier, f"--script={script}"]
    assert "Status: OPEN" in subprocess.run(command, capture_output=True, text=True).stdout

    in_process = per_call(policy.run, 100000)
    by_process = per_call(lambda: subprocess.run(command, capture_output=True), 200)
    print(f"Policy.run:               {in_process * 1e6:8.2f} us per decision "
          f"({1 / in_process:,.0f} per second)")
    print(f"subprocess qrv-verifier:  {by_process * 1e6:8.2f} us per decision "
          f"({1 / by_process:,.0f} per second)")
    print(f"ratio:                    {by_process / in_process:8.0f} x")


if __name__ == "__main__":
    main()
