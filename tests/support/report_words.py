"""The report's words as contract/report_words.h spells them, read from the
header itself, so that the tests send and expect what the program and
gdserver use."""
import os
import re

HEADER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "contract", "report_words.h")


def _read():
    with open(HEADER, encoding="utf-8") as f:
        text = f.read()
    words = dict(re.findall(r'inline constexpr Word (k\w+)\{"([^"]*)"\};', text))
    numbers = {name: int(value) for name, value in re.findall(r"inline constexpr int (k\w+) = (-?\d+);", text)}
    if not words or not numbers:
        raise RuntimeError("no report words found in " + HEADER)
    return words, numbers


WORDS, NUMBERS = _read()
# Field names in the order the program sends them.
FIELDS = [value for name, value in WORDS.items() if name.startswith("kField")]
ACTION_INITIAL = WORDS["kActionInitial"]
ACTION_START = WORDS["kActionStartDownload"]
ACTION_PAUSE = WORDS["kActionPauseDownload"]
ACTION_RESTART = WORDS["kActionRestartDownload"]
ACTION_COMPLETE = WORDS["kActionCompleteDownload"]
ACTION_REDOWNLOAD = WORDS["kActionRedownload"]
COMPLETED = str(NUMBERS["kCompleted"])
FAILED = str(NUMBERS["kFailed"])
FAIL_STALLED = str(NUMBERS["kFailStalled"])
FAIL_CHECK = str(NUMBERS["kFailCheck"])
FAIL_DOWNLOAD = str(NUMBERS["kFailDownload"])
