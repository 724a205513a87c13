#!/usr/bin/env python3
"""Write the whole-process benchmark workloads into a folder.

Usage: workloads.py DIR

Scripts that import themselves or write a report name those files relative to
the working directory: run them from DIR.
"""

import os
import sys

FUEL = 100000

# The flat script's cycle: each statement and the canonical text its run records.
# The report anchor (lineage_report.py) holds the same texts.
CYCLE = [
    ('residual()', 'Residual(0.0)'),
    ('report()', 'Report'),
    ('harmony(0.001)', 'Harmony(0.001)'),
    ('data(0)', 'Data(0.0)'),
    ('alias(1, "a")', 'Alias(1, "a")'),
    ('assert_bounds(0, 200, 0)', 'AssertBounds(0.0, 200.0, 0)'),
    ('budget_limit(5)', 'BudgetLimit(5.0)'),
    ('link_identity("x")', 'LinkIdentity("x")'),
]

# Closes the lineage script: with these three, the run records exactly FUEL commands.
LINEAGE_TAIL = ['track_lineage(true)', 'report_json()', 'report_to("out.json")']


def flat(count):
    return ''.join(CYCLE[i % len(CYCLE)][0] + '\n' for i in range(count))


def nested(depth):
    return 'if_broken { ' * depth + 'report()' + ' }' * depth + '\n'


WORKLOADS = {
    # One decision as a policy author writes it.
    'decision.tarn': '// one decision: the amount at position 0 must lie in [0, 200]\n'
                     'alias(0, "amount")\n'
                     'assert_bounds(0, 200, "amount")\n'
                     'harmony(0.001)\n',
    # The whole fuel budget in top-level statements.
    'flat100k.tarn': flat(FUEL),
    # On a memory broken at position 1 the first block heals it; the memory is then
    # balanced and the other blocks are skipped: 1 + 1 + 10 + 8999 fuel units.
    'heal.tarn': 'if_broken { evolve(1) }\n' * 9000,
    # Break and heal until the fuel is spent, 13 units a pair (tarn run only: the
    # verifier refuses scripts that break the memory themselves).
    'heal_full.tarn': 'corrupt(1)\nif_broken { evolve(1) }\n' * (FUEL // 13),
    # One statement 50000 blocks deep; skipped as a whole on a balanced memory.
    'deep50k.tarn': nested(50000),
    # Imports itself until the fuel runs out: 50000 nested imports.
    'self.tarn': 'residual()\nimport("self.tarn")\n',
    # The flat statements, then a lineage report of all FUEL commands to out.json.
    'lineage.tarn': flat(FUEL - len(LINEAGE_TAIL)) + ''.join(s + '\n' for s in LINEAGE_TAIL),
    # A large block, skipped on a balanced memory, then an import of itself: the chain ends at
    # the guard on the script text of open imports.
    'bigbody.tarn': 'if_broken { ' + ' '.join(['report()'] * 2000) + ' }\nimport("bigbody.tarn")\n',
}


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    os.makedirs(argv[1], exist_ok=True)
    for name, text in WORKLOADS.items():
        with open(os.path.join(argv[1], name), 'w', encoding='utf-8', newline='\n') as f:
            f.write(text)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
