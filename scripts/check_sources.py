#!/usr/bin/env python3
"""Source rules that the compiler cannot see.

The folders of src/ form a stack: a file may include its own folder and the
folders below it, never one above. Folders on one level do not include each
other.

Portable headers (everything under src/ and p2sp/ that is not a `_win` file)
are compiled both with and without windows.h. There, a name such as
SendMessage is a macro for SendMessageW, so a member of that name would be
declared under two names in one program. No portable header may use such a
name as an identifier.

Exits 1 and names each offending line.
"""
import os
import re
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))

# Win32 functions whose names windows.h defines as macros (the A/W pairs and a
# few others) that a portable class could plausibly want as a method name.
WIN32_MACRO_NAMES = """
AppendMenu CallWindowProc CharLower CharUpper CopyFile CreateDialog CreateDirectory CreateEvent
CreateFile CreateFont CreateMutex CreateProcess CreateWindow DefWindowProc DeleteFile DialogBox
DispatchMessage DrawText EnumFonts ExpandEnvironmentStrings FindFirstFile FindNextFile
FindResource FindWindow FormatMessage GetClassName GetCommandLine GetComputerName
GetCurrentDirectory GetDiskFreeSpaceEx GetDriveType GetEnvironmentVariable GetFileAttributes
GetFullPathName GetLongPathName GetMessage GetModuleFileName GetModuleHandle GetObject
GetPrivateProfileString GetProfileString GetProp GetShortPathName GetStartupInfo
GetTempFileName GetTempPath GetTextExtentPoint32 GetTextMetrics GetUserName GetVersionEx
GetVolumeInformation GetWindowLong GetWindowText HttpQueryInfo InsertMenu InternetOpen
InternetOpenUrl LoadBitmap LoadCursor LoadIcon LoadImage LoadLibrary LoadMenu LoadString
MessageBox ModifyMenu MoveFile OpenEvent OpenMutex OutputDebugString PeekMessage PostMessage
RegisterClass RegisterWindowMessage RegOpenKey RegQueryValue RemoveDirectory RemoveProp
SearchPath SendMessage SetCurrentDirectory SetEnvironmentVariable SetProp SetWindowLong
SetWindowText ShellExecute StartDoc TextOut WritePrivateProfileString
""".split()

# From the bottom up; folders in one tuple share a level.
LAYERS = [
    ("base",),
    ("ui",),
    ("skin",),
    ("prompts",),
    ("net", "verify"),
    ("companion",),
    ("config",),
    ("engine",),
    ("state",),
    ("stats",),
    ("download",),
    ("app",),
]
LEVEL = {folder: level for level, folders in enumerate(LAYERS) for folder in folders}
INCLUDE_RE = re.compile(r'^\s*#\s*include\s+"([A-Za-z0-9_]+)/')

NAME_RE = re.compile(r"\b(%s)\b" % "|".join(WIN32_MACRO_NAMES))


def portable_headers():
    for top in ("src", "p2sp"):
        for folder, _, files in os.walk(os.path.join(ROOT, top)):
            for name in files:
                if name.endswith((".h", ".hpp")) and not re.search(r"_win\.(h|hpp)$", name):
                    yield os.path.join(folder, name)


def code_only(line):
    """The line without its // comment and string literals."""
    line = re.sub(r'"(\\.|[^"\\])*"', '""', line)
    return line.split("//", 1)[0]


def check_macro_names():
    problems = []
    for path in portable_headers():
        with open(path, encoding="utf-8") as f:
            in_block_comment = False
            for number, line in enumerate(f, 1):
                if in_block_comment:
                    if "*/" not in line:
                        continue
                    line = line.split("*/", 1)[1]
                    in_block_comment = False
                line = re.sub(r"/\*.*?\*/", "", line)
                if "/*" in line:
                    line, in_block_comment = line.split("/*", 1)[0], True
                match = NAME_RE.search(code_only(line))
                if match:
                    problems.append("%s:%d: '%s' is a Win32 macro name; a portable header must not use it"
                                    % (os.path.relpath(path, ROOT), number, match.group(1)))
    return problems


def check_layers():
    problems = []
    src = os.path.join(ROOT, "src")
    for folder in sorted(os.listdir(src)):
        if not os.path.isdir(os.path.join(src, folder)):
            continue
        if folder not in LEVEL:
            problems.append("src/%s: a folder the stack does not place (add it to LAYERS)" % folder)
            continue
        for directory, _, files in os.walk(os.path.join(src, folder)):
            for name in sorted(files):
                path = os.path.join(directory, name)
                with open(path, encoding="utf-8") as f:
                    for number, line in enumerate(f, 1):
                        match = INCLUDE_RE.match(line)
                        if not match or match.group(1) == folder or match.group(1) not in LEVEL:
                            continue
                        target = match.group(1)
                        if LEVEL[target] >= LEVEL[folder]:
                            problems.append("%s:%d: %s includes %s, which is not below it"
                                            % (os.path.relpath(path, ROOT), number, folder, target))
    return problems


def main():
    problems = check_layers() + check_macro_names()
    for problem in problems:
        print(problem)
    print("source rules: %d problem(s)" % len(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
