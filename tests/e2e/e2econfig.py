# tests/e2e/e2econfig.py — the paths the end-to-end runner hands to its tests.
PARVEL = DRIVER = STATE = ARTEFACTS = None
