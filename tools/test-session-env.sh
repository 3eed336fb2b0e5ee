# Sourced by the scripts that run Wine programs for the tests: when ctest runs straight from a
# shell, its fixture (tools/test-session.sh) has written the Wine prefix and X display it made
# to $LUMIVANE_TEST_SESSION/env; what the shell already had stays as it was.
if [ -n "${LUMIVANE_TEST_SESSION:-}" ] && [ -f "$LUMIVANE_TEST_SESSION/env" ]; then
  # shellcheck disable=SC1091
  source "$LUMIVANE_TEST_SESSION/env"
fi
