"""The lineage workload's report, built and written by Python: the document of a run that
recorded 100000 commands, the record rebuilt from the statement cycle as a run builds it, written
with json.dump (two-space indent, sorted keys). The file must be byte-identical to the one the
verifier writes. Usage: python3 -I -S lineage_report.py OUT"""
import json
import sys

FUEL = 100000
CYCLE = ['Residual(0.0)', 'Report', 'Harmony(0.001)', 'Data(0.0)', 'Alias(1, "a")',
         'AssertBounds(0.0, 200.0, 0)', 'BudgetLimit(5.0)', 'LinkIdentity("x")']
TAIL = ['TrackLineage(true)', 'ReportJson', 'ReportTo("out.json")']

executed = [CYCLE[i % len(CYCLE)] for i in range(FUEL - len(TAIL))] + TAIL
report = {
    'escalate_reason': None,
    'fuel_consumed': len(executed),
    'gate_state': 'ALLOW',
    'identity_linked': 'x',
    'lineage_proof': {
        'executed_commands': executed,
        'final_residual': 0.0,
        'fuel_used': len(executed),
        'gate_state': 'ALLOW',
        'identity': 'x',
    },
    'pass': True,
    'replay_hash': 'hash_0',
    'residual': 0.0,
    'signature': 'qrv-sha256:generated_tdo_sig_placeholder',
    'zk_proof': None,
}
with open(sys.argv[1], 'w', encoding='utf-8', newline='\n') as out:
    json.dump(report, out, indent=2, sort_keys=True, ensure_ascii=False)
