"""The tarn policy engine in process.

check, format, compile and run policies, and get the verifier's verdict, with the results the
command-line tools print, to the byte. See python/README.md for a pytest example.
"""

from ._tarn import CheckResult, ParseError, Policy, RunError, check, compile, format, verify

__all__ = ["CheckResult", "ParseError", "Policy", "RunError", "check", "compile", "format",
           "verify"]
