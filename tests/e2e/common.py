"""What the end-to-end scripts share: the failure they raise, the one way they
wait for a condition, and the test pattern as the program sends it."""

import time

MODEM_BOX = "GetCommModemStatus Error:50"
ALPHABET = b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
PATTERN = b"".join(ALPHABET[:width] + b"\r\n" for width in range(5, 47))


class CheckFailed(Exception):
    pass


def wait_until(condition, what, timeout=30):
    """Polls for the condition itself, bounded by tens of seconds; returns its value."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            raise CheckFailed("timed out after %g s waiting for %s" % (timeout, what))
        time.sleep(0.05)
