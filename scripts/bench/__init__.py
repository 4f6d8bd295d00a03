"""The benchmark of Tindra.exe under Wine; scripts/bench.py runs it."""
